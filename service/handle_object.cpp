// THandleObject: window, dispatch by identifier and deferred freeing.
#include "service/handle_object.h"

#include "platform/window.h"
#include "service/object_window.h"

namespace vandrel {

THandleObject::THandleObject() {
  // A pointer to the virtual WndProc dispatches at each call to the
  // override of the object's actual class.
  handle_ = AllocateObjectWindow({this, &THandleObject::WndProc});
}

THandleObject::~THandleObject() {
  // Scopes still open on the stack (a delete that bypassed Free) must not
  // touch the object again.
  for (TDispatchScope* scope = innermost_scope_; scope != nullptr; scope = scope->outer_)
    scope->object_ = nullptr;
  DeallocateObjectWindow(handle_);
}

const TMessageTable& THandleObject::MessageTable() {
  static const TMessageTable table("THandleObject", nullptr, {});
  return table;
}

void THandleObject::WndProc(TMessage& message) { Dispatch(message); }

void THandleObject::DefaultHandler(TMessage& message) {
  message.Result = win::DefWindowProcA(handle_, message.Msg,
                                       static_cast<win::WPARAM>(message.WParam), message.LParam);
}

void THandleObject::Dispatch(TMessage& message) {
  const auto id = static_cast<std::uint16_t>(message.Msg & 0xFFFFu);
  if (IsDispatchableId(id)) {
    if (TMessageHandler handler = ClassMessageTable().Find(id)) {
      (this->*handler)(message);
      return;
    }
  }
  DefaultHandler(message);
}

void THandleObject::InheritedFrom(const TMessageTable& table, TMessage& message) {
  const auto id = static_cast<std::uint16_t>(message.Msg & 0xFFFFu);
  if (IsDispatchableId(id) && table.Parent() != nullptr) {
    if (TMessageHandler handler = table.Parent()->Find(id)) {
      (this->*handler)(message);
      return;
    }
  }
  DefaultHandler(message);
}

void THandleObject::Free() {
  if (dispatch_depth_ > 0) {
    free_pending_ = true;
    return;
  }
  delete this;
}

THandleObject::TDispatchScope::TDispatchScope(THandleObject* object)
    : object_(object), outer_(object->innermost_scope_) {
  ++object->dispatch_depth_;
  object->innermost_scope_ = this;
}

THandleObject::TDispatchScope::~TDispatchScope() {
  THandleObject* object = object_;
  if (object == nullptr) return;  // destroyed while the scope was open
  object->innermost_scope_ = outer_;
  if (--object->dispatch_depth_ == 0 && object->free_pending_) delete object;
}

}  // namespace vandrel
