// TChangeObject: change tracking, update brackets and change delivery.
#include "service/change_object.h"

#include <exception>

#include "platform/window.h"
#include "protocol/message_ids.h"
#include "protocol/page_ids.h"

namespace vandrel {

TChangeObject::TChangeObject(TNotifyObject* owner) : TLinkObject(owner) {}

const TMessageTable& TChangeObject::MessageTable() {
  static const TMessageTable table("TChangeObject", &TLinkObject::MessageTable(),
                                   {
                                       {QM_BEGINUPDATE, &TChangeObject::QmBeginUpdate},
                                       {QM_ENDUPDATE, &TChangeObject::QmEndUpdate},
                                       {QM_CLEARCHANGE, &TChangeObject::QmClearChange},
                                   });
  return table;
}

void TChangeObject::Changed() {
  pending_change_ = true;
  SendState();
  if (update_count_ == 0) DoChange();
}

void TChangeObject::SendState() {
  if (carrying_) {
    if (carried_state_ || carried_change_) SendCarried();
    carried_state_ = true;
    return;
  }
  Query(QM_STATE);
}

void TChangeObject::DoChange() {
  CallEventHandlers(change_handlers_, this);
  if (carrying_) {
    if (carried_change_) SendCarried();
    carried_change_ = true;
    return;
  }
  Query(QM_CHANGE);
}

void TChangeObject::WndProc(TMessage& message) {
  if (!carrying_ || !IsRequestId(message.Msg & 0xFFFFu)) {
    TLinkObject::WndProc(message);
    return;
  }
  // A request that arrives while an outer one keeps notifications (its
  // handler sent something, and the system let this one in meanwhile).
  try {
    SendCarried();
  } catch (const std::exception&) {
    // The peer is gone or hung; this request is not its business.
  }
  carrying_ = false;
  struct TResume {
    TChangeObject* self;
    ~TResume() {
      self->carrying_ = true;
      self->carried_state_ = false;
      self->carried_change_ = false;
    }
  } resume{this};
  TLinkObject::WndProc(message);
}

bool TChangeObject::FromPeer(const TMessage& message) {
  const auto window = static_cast<win::HWND>(message.WParam);
  if (window == 0 || window != Remote()) return false;
  const win::DWORD sender = win::GetMessageSenderProcessId();
  if (sender == 0) return false;
  if (window != owner_checked_) {
    // Once per peer window: its owner does not change.
    win::DWORD owner = 0;
    if (win::GetWindowThreadProcessId(window, &owner) == 0) return false;
    owner_checked_ = window;
    peer_process_ = owner;
  }
  return sender == peer_process_;
}

void TChangeObject::BeginCarry() {
  carrying_ = true;
  carried_state_ = false;
  carried_change_ = false;
}

std::int32_t TChangeObject::EndCarry() {
  const std::int32_t carried =
      (carried_state_ ? kCarriedState : 0) | (carried_change_ ? kCarriedChange : 0);
  carrying_ = false;
  carried_state_ = false;
  carried_change_ = false;
  return carried;
}

void TChangeObject::SendCarried() {
  const bool state = carried_state_;
  const bool change = carried_change_;
  carried_state_ = false;
  carried_change_ = false;
  if (state) {
    WriteCarriedState();
    Query(QM_STATE);
  }
  if (change) Query(QM_CHANGE);
}

void TChangeObject::WriteCarriedState() { Transfer().ResetWrite(); }

TChangeObject::TCarry::TCarry(TChangeObject& object, bool on) : object_(object), on_(on) {
  if (on_) object_.BeginCarry();
}

TChangeObject::TCarry::~TCarry() {
  if (!on_) return;
  try {
    object_.SendCarried();
  } catch (const std::exception&) {
    // The peer is gone or hung: the request's own failure goes on.
  }
  object_.EndCarry();
}

std::int32_t TChangeObject::TCarry::Kept() const {
  if (!on_) return 0;
  return (object_.carried_state_ ? kCarriedState : 0) |
         (object_.carried_change_ ? kCarriedChange : 0);
}

void TChangeObject::TCarry::End() {
  if (on_) object_.EndCarry();
  on_ = false;
}

void TChangeObject::BeginUpdate() {
  ++update_count_;
  pending_change_ = false;
}

void TChangeObject::EndUpdate() {
  --update_count_;
  if (update_count_ == 0 && pending_change_) DoChange();
}

void TChangeObject::ClearChange() { pending_change_ = false; }

void TChangeObject::QmBeginUpdate(TMessage&) { BeginUpdate(); }
void TChangeObject::QmEndUpdate(TMessage&) { EndUpdate(); }
void TChangeObject::QmClearChange(TMessage&) { ClearChange(); }

}  // namespace vandrel
