// Single-byte collation orders built from the platform's comparison.
#include "engine/collation_orders.h"

#include <algorithm>
#include <numeric>

#include "platform/nls.h"

namespace vandrel::engine {

TLanguageCharMapsList& TLanguageCharMapsList::Global() {
  static TLanguageCharMapsList list;
  return list;
}

const TCollationOrder& TLanguageCharMapsList::Order(std::uint16_t locale, std::uint16_t sort) {
  const win::LCID lcid = win::MAKELCID(locale, static_cast<win::WORD>(sort & 0xF));
  auto it = orders_.find(lcid);
  if (it != orders_.end()) return it->second;
  TCollationOrder order;
  std::iota(order.begin(), order.end(), 0);
  if (locale != 0 && win::IsValidLocale(lcid, win::LCID_SUPPORTED)) {
    std::stable_sort(order.begin(), order.end(), [lcid](std::uint8_t a, std::uint8_t b) {
      const char ca = static_cast<char>(a);
      const char cb = static_cast<char>(b);
      return win::CompareStringA(lcid, 0, &ca, 1, &cb, 1) == win::CSTR_LESS_THAN;
    });
  }
  return orders_.emplace(lcid, order).first->second;
}

}  // namespace vandrel::engine
