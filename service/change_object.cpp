// TChangeObject: change tracking, update brackets and change delivery.
#include "service/change_object.h"

#include "protocol/message_ids.h"

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

void TChangeObject::SendState() { Query(QM_STATE); }

void TChangeObject::DoChange() {
  CallEventHandlers(change_handlers_, this);
  Query(QM_CHANGE);
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
