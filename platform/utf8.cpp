// UTF-8 <-> UTF-16 into strings.
#include "platform/utf8.h"

#include "platform/exceptions.h"

namespace vandrel {

bool Utf8ToWide(std::string_view s, std::u16string& out, std::size_t* bad_at) {
  out.clear();
  out.reserve(s.size());
  return DecodeUtf8(
      reinterpret_cast<const unsigned char*>(s.data()), s.size(), true,
      [&](char16_t u) { out.push_back(u); }, bad_at);
}

std::u16string Utf8ToWideOrThrow(std::string_view s) {
  std::u16string w;
  std::size_t at = 0;
  if (!Utf8ToWide(s, w, &at)) throw Exception("invalid UTF-8 at byte " + std::to_string(at));
  return w;
}

std::u16string Utf8ToWideLenient(std::string_view s) {
  std::u16string w;
  w.reserve(s.size());
  DecodeUtf8(reinterpret_cast<const unsigned char*>(s.data()), s.size(), false,
             [&](char16_t u) { w.push_back(u); });
  return w;
}

std::string WideToUtf8(std::u16string_view w) {
  std::string out;
  out.reserve(w.size() + w.size() / 2);
  EncodeUtf8(w.data(), w.size(), false, [&](char c) { out.push_back(c); });
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  char16_t units[2] = {static_cast<char16_t>(c), 0};
  std::size_t n = 1;
  if (c >= 0x10000 && c <= 0x10FFFF) {
    units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    n = 2;
  } else if (c > 0xFFFF) {
    units[0] = kUtf8Replacement;
  }
  EncodeUtf8(units, n, false, [&](char b) { out.push_back(b); });
}

}  // namespace vandrel
