// Page scrambling: the key stream of one page and the XOR with it.
#include "dictionary/scramble.h"

#include <vector>

namespace vandrel {

TPageKey ReadPageKey(const std::uint8_t* header) {
  TPageKey key{};
  for (std::uint32_t i = 0; i < dic::kPageKeyWords; ++i)
    key[i] = dic::LoadU32(header + dic::kPageKeyAt + 4 * i);
  return key;
}

void WritePageKey(std::uint8_t* header, const TPageKey& key) {
  for (std::uint32_t i = 0; i < dic::kPageKeyWords; ++i)
    dic::StoreU32(header + dic::kPageKeyAt + 4 * i, key[i]);
}

void ScramblePage(std::uint8_t* page, const TPageKey& key, std::uint32_t page_size,
                  std::uint32_t page_no) {
  // The low byte of the page number, bit-reversed, in every byte of the mask.
  std::uint32_t mask = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (page_no & (1u << bit)) mask |= 0x80808080u >> bit;

  const std::uint32_t words = page_size / 4;
  // Each word of the stream takes in the already-updated word 71 places
  // before it, so the stream is built in ascending order.
  std::vector<std::uint32_t> stream(words);
  for (std::uint32_t i = 0; i < words; ++i) {
    std::uint32_t k = key[11 + i % 11] ^ dic::kScrambleTable[i % 32] ^ mask;
    if (i >= 71) k ^= stream[i - 71];
    stream[i] = k;
  }
  for (std::uint32_t i = 0; i < words; ++i) {
    std::uint8_t* p = page + 4 * i;
    dic::StoreU32(p, dic::LoadU32(p) ^ stream[i]);
  }
}

}  // namespace vandrel
