// THandleObject: an object that owns one hidden window and dispatches the
// window's messages to the handlers its class and its ancestors declare
// (message.h shows how a class declares them).
//
// Lifetime. An object lives from construction to destruction with the same
// Handle. An object may be destroyed while one of its own handlers is
// running (the last disconnect of a reference-counted object, a client
// check that disconnects a dead client on the manager's own window, a
// parent that frees a child whose request is still on the stack). Such
// objects are freed with Free(), never with delete: while any message of
// the object is being dispatched (ObjectWindowProc opens a TDispatchScope
// around every message, nested messages included), Free() only marks the
// object; the delete happens when the outermost dispatch of that object
// returns, after its WndProc has set the message result. Until then the
// object and everything it owns stay valid; FreePending() tells code that
// is still running on its behalf (a loop over clients, say) that it is
// going. Objects that may call Free() on themselves are created with new.
// Owners hold such children in TOwnedPtr, which frees through Free().
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win_types.h"
#include "service/message.h"

namespace vandrel {

class THandleObject {
 public:
  // Creates the hidden window bound to this object's WndProc (the override
  // of the object's actual class, resolved at each message). Handle() is 0
  // when the window could not be created; messages never reach such an
  // object.
  THandleObject();
  // Destroys the window. Must not run while the object is inside dispatch
  // except through Free().
  virtual ~THandleObject();
  THandleObject(const THandleObject&) = delete;
  THandleObject& operator=(const THandleObject&) = delete;

  win::HWND Handle() const { return handle_; }

  // Handles one message: by default dispatches it by identifier. Subclasses
  // override it to wrap the dispatch (the receiving end of an exchange).
  virtual void WndProc(TMessage& message);
  // Reached by messages that no class in the chain handles: Result :=
  // DefWindowProcA(Handle, Msg, WParam, LParam).
  virtual void DefaultHandler(TMessage& message);

  // Dispatch by identifier: identifier 0 and 0xC000 and above go to
  // DefaultHandler; otherwise the handler of the object's class or its
  // nearest ancestor that declares one, else DefaultHandler.
  void Dispatch(TMessage& message);

  // The table of THandleObject itself (no handlers) and the table of the
  // object's actual class.
  static const TMessageTable& MessageTable();
  virtual const TMessageTable& ClassMessageTable() const { return MessageTable(); }

  // Frees the object now, or, while it is inside dispatch, when the
  // outermost dispatch returns. Calling it again while pending does nothing.
  void Free();
  bool FreePending() const { return free_pending_; }
  bool InDispatch() const { return dispatch_depth_ > 0; }

  // Marks the object as inside dispatch for the scope's lifetime. Opened by
  // ObjectWindowProc; code that calls WndProc directly opens one too. The
  // scope ends the object's life if Free() was called within it and it is
  // the outermost one. If the object is destroyed by other means while a
  // scope is open, the scope notices and no longer touches it.
  class TDispatchScope {
   public:
    explicit TDispatchScope(THandleObject* object);
    ~TDispatchScope();
    TDispatchScope(const TDispatchScope&) = delete;
    TDispatchScope& operator=(const TDispatchScope&) = delete;
    // The object, or null once it is gone.
    THandleObject* Object() const { return object_; }

   private:
    friend class THandleObject;
    THandleObject* object_;
    TDispatchScope* outer_;
  };

 protected:
  // "Call the inherited handler" from a handler of class Class: the handler
  // of the same identifier in the nearest ancestor of Class that declares
  // one, or DefaultHandler when none does.
  template <class Class>
  void Inherited(TMessage& message) {
    InheritedFrom(Class::MessageTable(), message);
  }
  void InheritedFrom(const TMessageTable& table, TMessage& message);

 private:
  win::HWND handle_ = 0;
  int dispatch_depth_ = 0;
  bool free_pending_ = false;
  TDispatchScope* innermost_scope_ = nullptr;
};

// Deleter for owned message objects: frees through THandleObject::Free, so
// that a child destroyed while its own handler runs stays valid until the
// handler has returned.
struct TFree {
  void operator()(THandleObject* object) const noexcept {
    if (object != nullptr) object->Free();
  }
};
template <class T>
using TOwnedPtr = std::unique_ptr<T, TFree>;

}  // namespace vandrel
