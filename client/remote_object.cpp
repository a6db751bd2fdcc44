// TRemoteObject: requests with translated error answers, the link, and the
// notifications of the linked server object.
#include "client/remote_object.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/message_pump.h"
#include "client/service_error.h"
#include "platform/window.h"
#include "protocol/message_ids.h"
#include "service/errors.h"

namespace vandrel::client {
namespace {

bool request_timeout_set = false;
win::DWORD service_pid = 0;

std::string Seconds(int ms) {
  char buf[32];
  if (ms % 1000 == 0) {
    std::snprintf(buf, sizeof buf, "%d s", ms / 1000);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f s", ms / 1000.0);
  }
  return buf;
}

}  // namespace

int RequestTimeoutFromEnvironment() {
  const char* text = std::getenv("VANDREL_TIMEOUT");
  if (text == nullptr || *text == '\0') return kDefaultRequestTimeoutMs;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(seconds > 0) || seconds > 86400) {
    return kDefaultRequestTimeoutMs;
  }
  return std::max(1, static_cast<int>(seconds * 1000));
}

void SetRequestTimeout(int ms) {
  request_timeout_set = true;
  TLinkObject::SetQueryTimeout(ms);
}

int RequestTimeout() {
  if (!request_timeout_set) SetRequestTimeout(RequestTimeoutFromEnvironment());
  return TLinkObject::QueryTimeout();
}

void SetServiceProcessId(win::DWORD pid) { service_pid = pid; }

TRemoteObject::TRemoteObject(win::HWND remote, TNotifyObject* owner) : TLinkObject(owner) {
  // Only its server object calls a client object, and only while the
  // client waits for it: one channel serves both directions.
  SetPerCallerAnswers(false);
  SetRemote(remote);
  RequestTimeout();  // settles the process's limit
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
  if (Remote() == 0)
    throw Exception("no server object to send request " + std::to_string(message) + " to");
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

void TRemoteObject::WndProc(TMessage& message) {
  ++received_count_;
  TLinkObject::WndProc(message);
}

void TRemoteObject::QmState(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  HeardState(Transfer());
}

void TRemoteObject::QmChange(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  HeardChange();
}

void TRemoteObject::HeardState(TTransferMan& in) {
  ++state_count_;
  if (OnState) OnState(in);
  Wake();
}

void TRemoteObject::HeardChange() {
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

void TRemoteObject::NoAnswer(std::uint16_t, bool timed_out) {
  win::DWORD pid = 0;
  if (!timed_out || win::GetWindowThreadProcessId(Remote(), &pid) == 0) pid = service_pid;
  const std::string who = "the service (pid " + std::to_string(pid) + ")";
  if (timed_out) {
    throw EServiceUnavailable(who + " did not answer within " + Seconds(RequestTimeout()), true);
  }
  throw EServiceUnavailable(who + " ended while answering", false);
}

void TRemoteObject::Wake() { WakePump(Handle()); }

}  // namespace vandrel::client
