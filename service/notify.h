// TNotifyObject and TNotifyList: message objects that know their owner and
// every notification list that holds them, and the lists that keep that
// knowledge current. An object that is destroyed leaves every list that
// holds it; a list that is destroyed leaves every member's record. Members
// are used, never owned, by a list.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "service/handle_object.h"

namespace vandrel {

class TNotifyList;

class TNotifyObject : public THandleObject {
 public:
  // owner: the object that created this one (its parent in the object
  // tree), or null; used, not owned, and expected to outlive this object.
  explicit TNotifyObject(TNotifyObject* owner);
  // For each list that holds the object, from the most recently joined to
  // the first: the list's OnItemFree runs, then the object is extracted from
  // the list (OnRemove runs). Then the window goes.
  ~TNotifyObject() override;

  TNotifyObject* Owner() const { return owner_; }
  // Every list that currently contains this object, in the order joined (a
  // list appears once per time it holds the object).
  const std::vector<TNotifyList*>& NotifyLists() const { return notify_lists_; }
  // The name of the object's class (its message table's class name).
  std::string TypeName() const { return ClassMessageTable().ClassName(); }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  friend class TNotifyList;
  TNotifyObject* owner_;
  std::vector<TNotifyList*> notify_lists_;
};

// An ordered list of TNotifyObject references. The same object may be added
// twice. Every addition, extraction and deletion goes through Notify, which
// mirrors the membership in the member's NotifyLists and runs the
// callbacks. Destroying the list deletes its entries from the last to the
// first (OnRemove runs for each) and does not free the members.
class TNotifyList {
 public:
  enum class TListNotification { lnAdded, lnExtracted, lnDeleted };
  // Callbacks get the list and the item.
  using TListEvent = std::function<void(TNotifyList* list, TNotifyObject* item)>;

  TNotifyList() = default;
  virtual ~TNotifyList();
  TNotifyList(const TNotifyList&) = delete;
  TNotifyList& operator=(const TNotifyList&) = delete;

  // Called after an item was added.
  TListEvent OnInsert;
  // Called when a member that is being destroyed is about to leave the list.
  TListEvent OnItemFree;
  // Called after an item was removed or extracted.
  TListEvent OnRemove;

  // Appends item; returns its index.
  int Add(TNotifyObject* item);
  // Inserts item before index (0..Count()).
  void Insert(int index, TNotifyObject* item);
  // Deletes the entry at index (lnDeleted). Throws std::out_of_range for an
  // index outside 0..Count()-1.
  void Delete(int index);
  // Deletes the first entry equal to item (lnDeleted); returns its former
  // index or -1.
  int Remove(TNotifyObject* item);
  // Takes the first entry equal to item out of the list (lnExtracted);
  // returns item, or null when it is not in the list.
  TNotifyObject* Extract(TNotifyObject* item);
  // Deletes every entry, from the last to the first.
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  int IndexOf(const TNotifyObject* item) const;
  // Throws std::out_of_range for an index outside 0..Count()-1.
  TNotifyObject* Items(int index) const;
  TNotifyObject* operator[](int index) const { return Items(index); }
  // Typed access for lists whose members are all of one class.
  template <class T>
  T* ItemAs(int index) const {
    return static_cast<T*>(Items(index));
  }
  const std::vector<TNotifyObject*>& List() const { return items_; }

 protected:
  // Runs after every change of membership: mirrors it in the item's
  // NotifyLists, then calls OnInsert (lnAdded) or OnRemove (lnExtracted,
  // lnDeleted). An override extends it by calling it.
  virtual void Notify(TNotifyObject* item, TListNotification action);

 private:
  std::vector<TNotifyObject*> items_;
};

}  // namespace vandrel
