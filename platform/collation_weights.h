// Vandrel's collation weights: the one table of (character, weight) rows from
// which every word order in the system is derived. The dictionaries read it
// through their per-block maps; the locale comparison of the platform layer
// (CompareStringA) reads it through Weight(), so the table engine's indexes
// and the dictionary files order words alike.
//
// Weight layout (bit 31 always clear):
//   bits 16-30  primary weight: the letter or symbol
//   bits  8-15  diacritic weight
//   bits  0-7   case weight (02 capital, 08 small; other values mark
//               variants such as superscripts, ordinals, final sigma)
// A character without a row weighs 0.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vandrel::collation {

struct WeightRow {
  char16_t ch;
  std::uint32_t weight;
};

// Masks applied to a weight; the primary weight always takes part.
constexpr std::uint32_t kPrimaryBits = 0x7FFF0000;
constexpr std::uint32_t kDiacriticBits = 0x0000FF00;
constexpr std::uint32_t kCaseBits = 0x000000FF;

// Every row, sorted by character (static storage).
std::span<const WeightRow> WeightRows();

// The full weight of ch (0 when it has no row). Thread-safe.
std::uint32_t Weight(char16_t ch);

// Compares the weights AND (mask OR kPrimaryBits) position by position; at
// the first difference the sign of the first minus the second, else the sign
// of the length difference. -1, 0 or 1.
int CompareLevel(std::u16string_view a, std::u16string_view b, std::uint32_t mask);

}  // namespace vandrel::collation
