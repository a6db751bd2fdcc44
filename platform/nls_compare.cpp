// The locale comparison (CompareStringA) and case mapping (LCMapStringA) of
// 8-bit strings: both read the text as UTF-16 in the locale's code page.
#include <cstring>
#include <string>
#include <vector>

#include "platform/collation_weights.h"
#include "platform/error.h"
#include "platform/nls_case.h"
#include "platform/nls_internal.h"

namespace vandrel::win {
namespace {

using nls::CodePage;

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Characters below the digits in primary weight that are not controls:
// punctuation, symbols and currency signs.
bool IsSymbol(char16_t ch) {
  const std::uint32_t primary = collation::Weight(ch) >> 16;
  return primary >= 0x0200 && primary < 0x0857;
}

// Decodes into an inline buffer for the short strings the table engine
// compares, into the heap for longer ones.
class Decoded {
 public:
  Decoded(const CodePage& page, const char* s, std::size_t n, bool skip_symbols) {
    char16_t* out = inline_;
    if (n > sizeof inline_ / sizeof inline_[0]) {
      heap_.resize(n);
      out = heap_.data();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(s);
    std::size_t len = 0;
    for (std::size_t i = 0; i < n;) {
      char16_t ch;
      bool valid;
      i += page.Decode(bytes + i, n - i, ch, valid);
      if (skip_symbols && IsSymbol(ch)) continue;
      out[len++] = ch;
    }
    view_ = std::u16string_view(out, len);
  }
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  std::u16string_view view() const { return view_; }

 private:
  char16_t inline_[256];
  std::vector<char16_t> heap_;
  std::u16string_view view_;
};

}  // namespace

int CompareStringA(LCID locale, DWORD flags, const char* a, int a_len, const char* b, int b_len) {
  if (a == nullptr || b == nullptr || a_len < -1 || b_len < -1) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  constexpr DWORD kAccepted = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS |
                              SORT_STRINGSORT | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;
  if ((flags & ~kAccepted) != 0) return Fail(ERROR_INVALID_FLAGS);
  const UINT code_page = nls::LocaleCodePage(locale);
  const CodePage* page = code_page != 0 ? nls::FindCodePage(code_page) : nullptr;
  if (page == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::size_t na = a_len == -1 ? std::strlen(a) : static_cast<std::size_t>(a_len);
  const std::size_t nb = b_len == -1 ? std::strlen(b) : static_cast<std::size_t>(b_len);
  const bool skip = (flags & NORM_IGNORESYMBOLS) != 0;
  const Decoded da(*page, a, na, skip);
  const Decoded db(*page, b, nb, skip);
  const std::u16string_view wa = da.view();
  const std::u16string_view wb = db.view();
  int r = collation::CompareLevel(wa, wb, 0);
  if (r == 0 && (flags & NORM_IGNORENONSPACE) == 0) {
    r = collation::CompareLevel(wa, wb, collation::kDiacriticBits);
  }
  if (r == 0 && (flags & NORM_IGNORECASE) == 0) {
    const std::uint32_t mask = (flags & NORM_IGNORENONSPACE) != 0
                                   ? collation::kCaseBits
                                   : collation::kCaseBits | collation::kDiacriticBits;
    r = collation::CompareLevel(wa, wb, mask);
  }
  return r < 0 ? CSTR_LESS_THAN : r > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

int LCMapStringA(LCID locale, DWORD flags, const char* src, int src_len, char* dst, int dst_len) {
  if (src == nullptr || src_len == 0 || src_len < -1 || dst_len < 0 ||
      (dst_len > 0 && dst == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD mapping = flags & ~LCMAP_LINGUISTIC_CASING;
  if (mapping != LCMAP_LOWERCASE && mapping != LCMAP_UPPERCASE) return Fail(ERROR_INVALID_FLAGS);
  const UINT code_page = nls::LocaleCodePage(locale);
  const CodePage* page = code_page != 0 ? nls::FindCodePage(code_page) : nullptr;
  if (page == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::size_t n = src_len == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(src_len);
  const auto* bytes = reinterpret_cast<const unsigned char*>(src);
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    char16_t ch;
    bool valid;
    const std::size_t used = page->Decode(bytes + i, n - i, ch, valid);
    const char16_t mapped = mapping == LCMAP_UPPERCASE ? nls::ToUpper(ch) : nls::ToLower(ch);
    unsigned char enc[2];
    const std::size_t len = valid && mapped != ch ? page->Encode(mapped, enc) : 0;
    if (len != 0) {
      out.append(reinterpret_cast<const char*>(enc), len);
    } else {
      out.append(src + i, used);
    }
    i += used;
  }
  if (out.size() > static_cast<std::size_t>(INT32_MAX)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (dst_len == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<std::size_t>(dst_len)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memmove(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

}  // namespace vandrel::win
