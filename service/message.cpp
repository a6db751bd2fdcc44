// Per-class handler tables.
#include "service/message.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vandrel {

TMessageTable::TMessageTable(const char* class_name, const TMessageTable* parent,
                             std::initializer_list<TMessageEntry> entries)
    : class_name_(class_name), parent_(parent), entries_(entries) {
  std::sort(entries_.begin(), entries_.end(),
            [](const TMessageEntry& a, const TMessageEntry& b) { return a.Id < b.Id; });
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!IsDispatchableId(entries_[i].Id))
      throw std::logic_error(std::string(class_name) + ": message " +
                             std::to_string(entries_[i].Id) + " can never reach a handler");
    if (i > 0 && entries_[i - 1].Id == entries_[i].Id)
      throw std::logic_error(std::string(class_name) + ": two handlers for message " +
                             std::to_string(entries_[i].Id));
  }
}

TMessageHandler TMessageTable::Own(std::uint16_t id) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                             [](const TMessageEntry& e, std::uint16_t v) { return e.Id < v; });
  return it != entries_.end() && it->Id == id ? it->Handler : nullptr;
}

TMessageHandler TMessageTable::Find(std::uint16_t id) const {
  for (const TMessageTable* table = this; table != nullptr; table = table->parent_) {
    if (TMessageHandler handler = table->Own(id)) return handler;
  }
  return nullptr;
}

}  // namespace vandrel
