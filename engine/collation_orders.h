// TLanguageCharMapsList: per-locale collation orders of single bytes. For a
// (locale, sort) pair, the 256 byte values in the order the platform's
// comparison of one-character strings in that locale sorts them (ties by
// value; locale 0: the identity). Built on first use, kept for the life of
// the process. Engine thread only.
#pragma once

#include <array>
#include <cstdint>
#include <map>

namespace vandrel::engine {

using TCollationOrder = std::array<std::uint8_t, 256>;

class TLanguageCharMapsList {
 public:
  static TLanguageCharMapsList& Global();
  // The order for a language identifier and a sort identifier (0-15). A
  // locale the platform does not know sorts by value.
  const TCollationOrder& Order(std::uint16_t locale, std::uint16_t sort);
  std::size_t Count() const { return orders_.size(); }

 private:
  std::map<std::uint32_t, TCollationOrder> orders_;
};

}  // namespace vandrel::engine
