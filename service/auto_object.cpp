// TAutoObject: reference counting by connect and disconnect.
#include "service/auto_object.h"

#include "protocol/message_ids.h"

namespace vandrel {

TAutoObject::TAutoObject(TNotifyObject* owner) : TChangeObject(owner) {}

const TMessageTable& TAutoObject::MessageTable() {
  static const TMessageTable table("TAutoObject", &TChangeObject::MessageTable(),
                                   {
                                       {QM_CONNECT, &TAutoObject::QmConnect},
                                       {QM_DISCONNECT, &TAutoObject::QmDisconnect},
                                   });
  return table;
}

void TAutoObject::AddRef() { ++ref_count_; }

void TAutoObject::Release() {
  if (--ref_count_ == 0) Free();
}

void TAutoObject::QmConnect(TMessage& message) {
  Inherited<TAutoObject>(message);
  AddRef();
}

void TAutoObject::QmDisconnect(TMessage& message) {
  Inherited<TAutoObject>(message);
  Release();
}

}  // namespace vandrel
