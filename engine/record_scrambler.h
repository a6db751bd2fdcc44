// The scrambler of encrypted tables. Keyless apart from a two-byte seed: a
// rising counter starts at the seed's first byte and a falling counter at
// its second; each byte of a run is XORed with both, then the rising counter
// goes up by one and the falling one down by one (modulo 256). Scrambling
// and unscrambling are the same operation. A run whose length is a multiple
// of 65536 is left unchanged.
//
// The seeds are part of the file format (every encrypted file depends on
// them): never change them.
//
// | seed   | rising | falling | used for                                          |
// |--------|--------|---------|---------------------------------------------------|
// | record | 0x5A   | 0xC3    | each record on its own, the descriptor area, the  |
// |        |        |         | index header and pages, BLOB header and blocks    |
// | string | 0x2D   | 0x96    | the description and password texts of the data    |
// |        |        |         | file header (the text bytes only)                 |
#pragma once

#include <cstddef>
#include <cstdint>

namespace vandrel::engine {

struct TScrambleSeed {
  std::uint8_t rising;
  std::uint8_t falling;
};

constexpr TScrambleSeed kRecordSeed{0x5A, 0xC3};
constexpr TScrambleSeed kStringSeed{0x2D, 0x96};

inline void Scramble(TScrambleSeed seed, std::uint8_t* data, std::size_t n) {
  if (n % 65536 == 0) return;
  std::uint8_t up = seed.rising;
  std::uint8_t down = seed.falling;
  for (std::size_t i = 0; i < n; ++i) {
    data[i] ^= static_cast<std::uint8_t>(up ^ down);
    ++up;
    --down;
  }
}

}  // namespace vandrel::engine
