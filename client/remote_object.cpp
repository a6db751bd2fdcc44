// TRemoteObject: requests with translated error answers, the link, and the
// notifications of the linked server object.
#include "client/remote_object.h"

#include "client/message_pump.h"
#include "client/service_error.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/query_ids.h"

namespace vandrel::client {

TRemoteObject::TRemoteObject(win::HWND remote, TNotifyObject* owner) : TLinkObject(owner) {
  SetRemote(remote);
}

const TMessageTable& TRemoteObject::MessageTable() {
  static const TMessageTable table("TRemoteObject", &TLinkObject::MessageTable(),
                                   {
                                       {QM_STATE, &TRemoteObject::QmState},
                                       {QM_CHANGE, &TRemoteObject::QmChange},
                                       {QM_PING, &TRemoteObject::QmPing},
                                       {QM_CONNECT, &TRemoteObject::QmIgnore},
                                       {QM_DISCONNECT, &TRemoteObject::QmIgnore},
                                   });
  return table;
}

TTransferMan& TRemoteObject::BeginRequest() {
  Transfer().ResetWrite();
  return Transfer();
}

void TRemoteObject::Request(std::uint16_t message) {
  if (Remote() == 0) throw Exception("no server object to send request " + std::to_string(message) + " to");
  try {
    Query(message);
  } catch (const ERemote& e) {
    throw EServiceError(e.HelpContext(), e.Message());
  }
}

void TRemoteObject::Call(std::uint16_t message) {
  BeginRequest();
  Request(message);
}

void TRemoteObject::Connect() {
  Call(QM_CONNECT);
  connected_ = true;
}

void TRemoteObject::Disconnect() {
  connected_ = false;
  Call(QM_DISCONNECT);
}

void TRemoteObject::QmState(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  ++state_count_;
  if (OnState) OnState(Transfer());
  Wake();
}

void TRemoteObject::QmChange(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  ++change_count_;
  if (OnChange) OnChange();
  Wake();
}

void TRemoteObject::QmPing(TMessage& message) {
  ++ping_count_;
  message.Result = message.WParam;
  Wake();
}

void TRemoteObject::QmIgnore(TMessage&) {}

void TRemoteObject::Wake() { WakePump(Handle()); }

}  // namespace vandrel::client
