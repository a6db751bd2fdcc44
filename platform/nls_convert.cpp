// MultiByteToWideChar and WideCharToMultiByte over the ANSI code pages and
// UTF-8 (through the one codec of utf8.h).
#include <climits>
#include <cstddef>
#include <cstring>

#include "platform/error.h"
#include "platform/nls_internal.h"
#include "platform/utf8.h"

namespace vandrel::win {
namespace {

using nls::CodePage;

// Counts what a conversion produces and stores it while there is room;
// with capacity 0 it only counts.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* dst, int cap) : dst_(dst), cap_(static_cast<std::size_t>(cap)) {}
  void Put(Unit u) {
    if (cap_ != 0 && count_ < cap_) dst_[count_] = u;
    ++count_;
  }
  std::size_t count() const { return count_; }
  bool overflowed() const { return cap_ != 0 && count_ > cap_; }

 private:
  Unit* dst_;
  std::size_t cap_;
  std::size_t count_ = 0;
};

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

template <typename Unit>
int Finish(const Sink<Unit>& sink) {
  if (sink.count() > static_cast<std::size_t>(INT_MAX)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (sink.overflowed()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(sink.count());
}

std::size_t WideLength(const char16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len, char16_t* dst,
                        int dst_len) {
  if (src == nullptr || src_len == 0 || src_len < -1 || dst_len < 0 ||
      (dst_len > 0 && dst == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::size_t n = src_len == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(src_len);
  const auto* bytes = reinterpret_cast<const unsigned char*>(src);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  Sink<char16_t> out(dst, dst_len);
  if (code_page == CP_UTF8) {
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (!DecodeUtf8(bytes, n, strict, [&](char16_t u) { out.Put(u); }))
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return Finish(out);
  }
  const CodePage* page = nls::FindCodePage(code_page);
  if (page == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) != 0 ||
      ((flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE))) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  for (std::size_t i = 0; i < n;) {
    char16_t ch;
    bool valid;
    i += page->Decode(bytes + i, n - i, ch, valid);
    if (!valid && strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    out.Put(ch);
  }
  return Finish(out);
}

int WideCharToMultiByte(UINT code_page, DWORD flags, const char16_t* src, int src_len, char* dst,
                        int dst_len, const char* default_char, BOOL* used_default) {
  if (src == nullptr || src_len == 0 || src_len < -1 || dst_len < 0 ||
      (dst_len > 0 && dst == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::size_t n = src_len == -1 ? WideLength(src) + 1 : static_cast<std::size_t>(src_len);
  Sink<char> out(dst, dst_len);
  if (code_page == CP_UTF8) {
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (default_char != nullptr || used_default != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!EncodeUtf8(src, n, (flags & WC_ERR_INVALID_CHARS) != 0, [&](char c) { out.Put(c); })) {
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    return Finish(out);
  }
  const CodePage* page = nls::FindCodePage(code_page);
  if (page == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~(WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_COMPOSITECHECK |
                 WC_NO_BEST_FIT_CHARS)) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  unsigned char fallback[2] = {'?', 0};
  std::size_t fallback_len = 1;
  if (default_char != nullptr) {
    fallback[0] = static_cast<unsigned char>(default_char[0]);
    if (page->IsDoubleByte() && default_char[0] != 0 && default_char[1] != 0) {
      const auto* d = reinterpret_cast<const unsigned char*>(default_char);
      char16_t ch;
      bool valid;
      if (page->Decode(d, 2, ch, valid) == 2 && valid) {
        fallback[1] = d[1];
        fallback_len = 2;
      }
    }
  }
  bool defaulted = false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char bytes[2];
    std::size_t len = page->Encode(src[i], bytes);
    const unsigned char* put = bytes;
    if (len == 0) {
      defaulted = true;
      put = fallback;
      len = fallback_len;
    }
    for (std::size_t k = 0; k < len; ++k) out.Put(static_cast<char>(put[k]));
  }
  const int result = Finish(out);
  if (result != 0 && used_default != nullptr) *used_default = defaulted ? TRUE : FALSE;
  return result;
}

BOOL IsValidCodePage(UINT code_page) {
  if (code_page == CP_UTF8) return TRUE;
  if (code_page == CP_ACP || code_page == CP_THREAD_ACP) return FALSE;
  return nls::FindCodePage(code_page) != nullptr ? TRUE : FALSE;
}

bool IsDoubleByteCodePage(UINT code_page) {
  const CodePage* page = nls::FindCodePage(code_page);
  return page != nullptr && page->IsDoubleByte();
}

}  // namespace vandrel::win
