// The one UTF-8 codec of the system: UTF-8 bytes to UTF-16 units and back.
// Characters above U+FFFF are surrogate pairs in UTF-16. The platform's
// code-page conversions (code page 65001) and every tool use it.
//
// Decoding is strict (refuses overlong forms, surrogate code points, values
// above U+10FFFF, bad or missing continuation bytes) or lenient (each
// maximal ill-formed part becomes one U+FFFD). Encoding turns a lone
// surrogate into U+FFFD, or is refused when strict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel {

constexpr char16_t kUtf8Replacement = 0xFFFD;

// The core loops, over any output: put(unit) is called for each unit
// produced. Return false (strict only) at the first ill-formed part, with
// *bad_at set to its byte (or unit) offset when given.
template <typename Put>
bool DecodeUtf8(const unsigned char* s, std::size_t n, bool strict, Put&& put,
                std::size_t* bad_at = nullptr) {
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      put(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    std::size_t need = 0;
    std::uint32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the first continuation byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;  // overlong
      if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;  // overlong
      if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      if (strict) {
        if (bad_at) *bad_at = i;
        return false;
      }
      put(kUtf8Replacement);
      ++i;
      continue;
    }
    std::size_t k = 1;
    bool ok = true;
    for (; k <= need; ++k) {
      if (i + k >= n) {
        ok = false;
        break;
      }
      const unsigned char c = s[i + k];
      if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      if (strict) {
        if (bad_at) *bad_at = i;
        return false;
      }
      put(kUtf8Replacement);
      i += k;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (cp >> 10)));
      put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put(static_cast<char16_t>(cp));
    }
    i += need + 1;
  }
  return true;
}

// put(byte) for each byte produced.
template <typename Put>
bool EncodeUtf8(const char16_t* s, std::size_t n, bool strict, Put&& put,
                std::size_t* bad_at = nullptr) {
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (strict) {
        if (bad_at) *bad_at = i;
        return false;
      }
      cp = kUtf8Replacement;
    }
    if (cp < 0x80) {
      put(static_cast<char>(cp));
    } else if (cp < 0x800) {
      put(static_cast<char>(0xC0 | (cp >> 6)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      put(static_cast<char>(0xE0 | (cp >> 12)));
      put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      put(static_cast<char>(0xF0 | (cp >> 18)));
      put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

// Strict. On failure returns false, sets *bad_at to the byte offset of the
// ill-formed part, and out holds the text before it.
bool Utf8ToWide(std::string_view s, std::u16string& out, std::size_t* bad_at = nullptr);
// Strict; raises Exception "invalid UTF-8 at byte N".
std::u16string Utf8ToWideOrThrow(std::string_view s);
// Lenient: ill-formed parts become U+FFFD.
std::u16string Utf8ToWideLenient(std::string_view s);
// Lone surrogates become U+FFFD.
std::string WideToUtf8(std::u16string_view w);
// One code point appended; a surrogate or a value above U+10FFFF becomes
// U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace vandrel
