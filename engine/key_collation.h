// The locale comparison of string key fields: the platform's
// CompareStringA(MAKELCID(language, sort), NORM_IGNORENONSPACE) of the texts
// up to their first zero byte, primary weights first, then case. This is the
// order of CompareWords over AnsiToWide of the same bytes, so an index of a
// locale table walks in dictionary order.
//
// For a single-byte code page every byte is one character, so the weights
// of the 256 bytes are looked up once per locale and compared directly; a
// double-byte page goes through CompareStringA itself. Tables are built on
// first use and kept for the life of the process (thread-safe).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vandrel::engine {

class TKeyCollation {
 public:
  // The collation of a locale (language id | sort id << 16); a locale the
  // platform does not know falls back to English (United States).
  static const TKeyCollation& ForLocale(std::uint32_t lcid);

  // Compares a[0..a_len) and b[0..b_len), each up to its first zero byte:
  // -1, 0 or 1.
  int Compare(const std::uint8_t* a, std::size_t a_len, const std::uint8_t* b,
              std::size_t b_len) const;

  std::uint32_t lcid() const { return lcid_; }

  explicit TKeyCollation(std::uint32_t lcid);
  TKeyCollation(const TKeyCollation&) = delete;
  TKeyCollation& operator=(const TKeyCollation&) = delete;

 private:
  std::uint32_t lcid_;
  bool single_byte_ = false;
  std::array<std::uint32_t, 256> weights_{};  // primary and case bits of each byte
};

}  // namespace vandrel::engine
