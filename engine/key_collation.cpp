// Locale comparison of string key fields.
#include "engine/key_collation.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/collation_weights.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

std::size_t TextLength(const std::uint8_t* p, std::size_t n) {
  const void* z = std::memchr(p, 0, n);
  return z == nullptr ? n : static_cast<std::size_t>(static_cast<const std::uint8_t*>(z) - p);
}

}  // namespace

const TKeyCollation& TKeyCollation::ForLocale(std::uint32_t lcid) {
  static std::mutex mutex;
  static std::map<std::uint32_t, std::unique_ptr<TKeyCollation>> tables;
  std::lock_guard lock(mutex);
  auto& slot = tables[lcid];
  if (!slot) slot = std::make_unique<TKeyCollation>(lcid);
  return *slot;
}

TKeyCollation::TKeyCollation(std::uint32_t lcid) : lcid_(lcid) {
  if (!win::IsValidLocale(lcid_, win::LCID_INSTALLED)) lcid_ = 0x0409;
  char cp_text[16] = {};
  win::GetLocaleInfoA(lcid_, win::LOCALE_IDEFAULTANSICODEPAGE, cp_text, sizeof cp_text);
  const unsigned cp = static_cast<unsigned>(std::atoi(cp_text));
  if (cp == 0 || !win::IsValidCodePage(cp) || win::IsDoubleByteCodePage(cp) || cp == win::CP_UTF8) {
    return;
  }
  single_byte_ = true;
  constexpr std::uint32_t kMask = collation::kPrimaryBits | collation::kCaseBits;
  for (int b = 1; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    char16_t ch = 0;
    if (win::MultiByteToWideChar(cp, 0, &byte, 1, &ch, 1) != 1) ch = 0;
    weights_[b] = collation::Weight(ch) & kMask;
  }
}

int TKeyCollation::Compare(const std::uint8_t* a, std::size_t a_len, const std::uint8_t* b,
                           std::size_t b_len) const {
  if (!single_byte_) {
    a_len = TextLength(a, a_len);
    b_len = TextLength(b, b_len);
    const int r = win::CompareStringA(lcid_, win::NORM_IGNORENONSPACE,
                                      reinterpret_cast<const char*>(a), static_cast<int>(a_len),
                                      reinterpret_cast<const char*>(b), static_cast<int>(b_len));
    return r == win::CSTR_LESS_THAN ? -1 : r == win::CSTR_GREATER_THAN ? 1 : 0;
  }
  // One pass up to the first zero byte of either text: equal bytes weigh
  // the same, the first primary difference decides, else the length, else
  // the first case difference.
  const std::size_t n = a_len < b_len ? a_len : b_len;
  int case_result = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t ca = a[i];
    const std::uint8_t cb = b[i];
    if (ca == cb) {
      if (ca == 0) return case_result;  // both texts end here
      continue;
    }
    if (ca == 0) return -1;  // a is the shorter text
    if (cb == 0) return 1;
    const std::uint32_t wa = weights_[ca];
    const std::uint32_t wb = weights_[cb];
    if (wa == wb) continue;
    const std::uint32_t pa = wa & collation::kPrimaryBits;
    const std::uint32_t pb = wb & collation::kPrimaryBits;
    if (pa != pb) return pa < pb ? -1 : 1;
    if (case_result == 0) case_result = wa < wb ? -1 : 1;
  }
  const bool a_more = a_len > n && a[n] != 0;
  const bool b_more = b_len > n && b[n] != 0;
  if (a_more != b_more) return a_more ? 1 : -1;
  return case_result;
}

}  // namespace vandrel::engine
