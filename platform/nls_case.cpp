// Case mapping of single characters through the generated case tables.
#include "platform/nls_case.h"

#include <algorithm>

namespace vandrel::win::nls {
namespace {

char16_t Map(std::span<const CasePair> pairs, char16_t ch) {
  const auto it = std::lower_bound(pairs.begin(), pairs.end(), ch,
                                   [](const CasePair& p, char16_t c) { return p.from < c; });
  return it != pairs.end() && it->from == ch ? it->to : ch;
}

}  // namespace

char16_t ToUpper(char16_t ch) {
  if (ch < 0x80) return ch >= 'a' && ch <= 'z' ? static_cast<char16_t>(ch - 32) : ch;
  return Map(UpperCasePairs(), ch);
}

char16_t ToLower(char16_t ch) {
  if (ch < 0x80) return ch >= 'A' && ch <= 'Z' ? static_cast<char16_t>(ch + 32) : ch;
  return Map(LowerCasePairs(), ch);
}

}  // namespace vandrel::win::nls
