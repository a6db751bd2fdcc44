// The case mappings of the national-language support: simple one-to-one
// upper- and lower-case pairs of the Basic Multilingual Plane (generated data,
// scripts/gen_nls_tables.py).
#pragma once

#include <span>

namespace vandrel::win::nls {

struct CasePair {
  char16_t from;
  char16_t to;
};

// Sorted by `from`; static storage.
std::span<const CasePair> UpperCasePairs();
std::span<const CasePair> LowerCasePairs();

// The mapped character, or ch itself when it has no mapping.
char16_t ToUpper(char16_t ch);
char16_t ToLower(char16_t ch);

}  // namespace vandrel::win::nls
