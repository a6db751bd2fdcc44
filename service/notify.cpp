// Notification objects and lists.
#include "service/notify.h"

#include <algorithm>
#include <stdexcept>

namespace vandrel {

TNotifyObject::TNotifyObject(TNotifyObject* owner) : owner_(owner) {}

TNotifyObject::~TNotifyObject() {
  while (!notify_lists_.empty()) {
    TNotifyList* list = notify_lists_.back();
    const std::size_t before = notify_lists_.size();
    if (list->OnItemFree) list->OnItemFree(list, this);
    // Extracting mirrors the removal in notify_lists_ through Notify. When a
    // callback already took the object out of that list, drop the stale
    // record here so that the loop always ends.
    if (list->Extract(this) == nullptr && notify_lists_.size() == before) {
      auto it = std::find(notify_lists_.rbegin(), notify_lists_.rend(), list);
      if (it != notify_lists_.rend()) notify_lists_.erase(std::next(it).base());
    }
  }
}

const TMessageTable& TNotifyObject::MessageTable() {
  static const TMessageTable table("TNotifyObject", &THandleObject::MessageTable(), {});
  return table;
}

TNotifyList::~TNotifyList() { Clear(); }

int TNotifyList::Add(TNotifyObject* item) {
  items_.push_back(item);
  Notify(item, TListNotification::lnAdded);
  return Count() - 1;
}

void TNotifyList::Insert(int index, TNotifyObject* item) {
  if (index < 0 || index > Count()) throw std::out_of_range("List index out of bounds");
  items_.insert(items_.begin() + index, item);
  Notify(item, TListNotification::lnAdded);
}

void TNotifyList::Delete(int index) {
  TNotifyObject* item = Items(index);
  items_.erase(items_.begin() + index);
  Notify(item, TListNotification::lnDeleted);
}

int TNotifyList::Remove(TNotifyObject* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

TNotifyObject* TNotifyList::Extract(TNotifyObject* item) {
  const int index = IndexOf(item);
  if (index < 0) return nullptr;
  items_.erase(items_.begin() + index);
  Notify(item, TListNotification::lnExtracted);
  return item;
}

void TNotifyList::Clear() {
  while (!items_.empty()) Delete(Count() - 1);
}

int TNotifyList::IndexOf(const TNotifyObject* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TNotifyObject* TNotifyList::Items(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds");
  return items_[static_cast<std::size_t>(index)];
}

void TNotifyList::Notify(TNotifyObject* item, TListNotification action) {
  if (action == TListNotification::lnAdded) {
    if (item != nullptr) item->notify_lists_.push_back(this);
    if (OnInsert) OnInsert(this, item);
  } else {
    if (item != nullptr) {
      auto& lists = item->notify_lists_;
      auto it = std::find(lists.begin(), lists.end(), this);
      if (it != lists.end()) lists.erase(it);
    }
    if (OnRemove) OnRemove(this, item);
  }
}

}  // namespace vandrel
