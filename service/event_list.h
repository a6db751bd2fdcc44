// Event lists: ordered arrays of methods bound to objects, each called with
// one argument, the object that changed (the sender). Change-tracking
// objects keep their change handlers in one; the object model keeps its own
// handler lists (parameter changes of a shared table) the same way.
//
// An entry is matched by its code address and its object together: the same
// method bound to two objects gives two entries, and two different methods
// of one object give two entries. The list uses its entries' objects; it
// never owns them, and a member must remove itself before it is destroyed.
#pragma once

#include <type_traits>
#include <vector>

#include "service/notify.h"

namespace vandrel {

// A method bound to an object. Code is a per-method trampoline, so its
// address names the method; Object is the object it is bound to (used, not
// owned).
struct TNotifyEvent {
  using TCode = void (*)(void* object, TNotifyObject* sender);
  TCode Code = nullptr;
  void* Object = nullptr;

  void operator()(TNotifyObject* sender) const { Code(Object, sender); }
  bool operator==(const TNotifyEvent&) const = default;
};

namespace detail {
template <class T>
struct TMethodClass;
template <class C>
struct TMethodClass<void (C::*)(TNotifyObject*)> {
  using Class = C;
};
template <auto Method>
void CallNotifyMethod(void* object, TNotifyObject* sender) {
  using Class = typename TMethodClass<decltype(Method)>::Class;
  (static_cast<Class*>(object)->*Method)(sender);
}
}  // namespace detail

// Binds a method `void Class::Method(TNotifyObject* sender)` to an object:
//   AddEventHandler(table->ParamsHandlers(), MakeNotifyEvent<&TBase::ParamsChanged>(this));
template <auto Method, class Class>
TNotifyEvent MakeNotifyEvent(Class* object) {
  using Declaring = typename detail::TMethodClass<decltype(Method)>::Class;
  static_assert(std::is_base_of_v<Declaring, Class>, "the method belongs to the object's class");
  return TNotifyEvent{&detail::CallNotifyMethod<Method>,
                      static_cast<void*>(static_cast<Declaring*>(object))};
}

using TEventList = std::vector<TNotifyEvent>;

// Appends handler unless an entry with the same code and object is in the
// list already.
void AddEventHandler(TEventList& list, const TNotifyEvent& handler);
// Removes the first entry with the same code and object: the last entry
// takes its place (order is not preserved) and the list shrinks by one.
// Does nothing when there is no such entry.
void RemoveEventHandler(TEventList& list, const TNotifyEvent& handler);
// Calls every entry from the first to the last with sender. A handler may
// add or remove entries while the list is being called: the call works on a
// copy taken at the start and skips an entry that was removed in the
// meantime, so a removed handler's object is never called. The list itself
// must outlive the call (an object that frees itself from a handler does so
// through Free(), which waits until its dispatch has returned).
void CallEventHandlers(const TEventList& list, TNotifyObject* sender);

}  // namespace vandrel
