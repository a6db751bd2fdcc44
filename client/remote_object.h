// TRemoteObject: the client's end of one server object. It owns a hidden
// window and a transfer channel of its own (it is a linked object), sends
// requests to the server object's window, answers the service's liveness
// pings, and hands the notifications of the server object it is linked to
// (QM_STATE, QM_CHANGE) to callbacks. Typed objects (base manager, base
// sets, bases, cursors) derive from it and add their requests.
//
// A request:
//   TTransferMan& out = object.BeginRequest();
//   out.WriteInteger(1, 42);
//   object.Request(SOME_REQUEST);          // raises EServiceError on an error answer
//   int result = object.Answer().ReadInteger(1);
//
// The answer stays readable until the object's next request. While a
// request waits, the service may call back: notifications run their
// callbacks inside Request() (or, carried by the answer of a request that
// asked for that, when the typed object has read the answer). Otherwise they (and pings) are
// handled only while the thread pumps messages (message_pump.h).
//
// Lifetime: created with new and held in a TOwnedPtr (or freed with
// Free()), since a notification handler may be on the stack when its owner
// lets go. Used only by the thread that created it.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/win_types.h"
#include "service/link_object.h"
#include "service/transfer_man.h"

namespace vandrel::client {

// The time limit of every request of this process's client objects, in
// ms: what TServiceConnection was given, else $VANDREL_TIMEOUT (seconds,
// fractions allowed), else 30 s. A request that gets no answer in time
// raises EServiceUnavailable.
constexpr int kDefaultRequestTimeoutMs = 30000;
int RequestTimeoutFromEnvironment();
void SetRequestTimeout(int ms);
int RequestTimeout();
// The process id that errors name when the service went away; recorded by
// TServiceConnection.
void SetServiceProcessId(win::DWORD pid);

class TRemoteObject : public TLinkObject {
 public:
  // remote: the server object's window (0 until SetRemote).
  explicit TRemoteObject(win::HWND remote, TNotifyObject* owner = nullptr);

  // Starts a request: drops the items of the previous one and returns the
  // channel for writing this request's items.
  TTransferMan& BeginRequest();
  // Sends message to the server object with the items written since
  // BeginRequest and maps the answer for Answer(). Raises EServiceError
  // for an error answer, Exception "Method %d not implemented" when the
  // server object has no handler, and the channel's ELocal (code 4, "Empty
  // read buffer") when its window is gone. Raises Exception when no server
  // window is set, and EServiceUnavailable when the service does not
  // answer within RequestTimeout() or ends before it answers.
  void Request(std::uint16_t message);
  // BeginRequest + Request for requests without items.
  void Call(std::uint16_t message);
  // The last answer's items, read in the order the message defines.
  TTransferMan& Answer() { return Transfer(); }

  // Links to the server object (QM_CONNECT without items) / ends the link
  // (QM_DISCONNECT). Connected() follows the last successful call.
  void Connect();
  void Disconnect();
  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }

  // Notifications from the linked server object. OnState reads the state
  // items from the channel it is given, in the order the server's class
  // writes them. Notifications from any other window are ignored.
  std::function<void(TTransferMan& state)> OnState;
  std::function<void()> OnChange;

  // Counts of what was heard: QM_STATE and QM_CHANGE from the linked
  // object (arrived, or carried by an answer), QM_PING from anyone.
  int StateCount() const { return state_count_; }
  int ChangeCount() const { return change_count_; }
  int PingCount() const { return ping_count_; }
  // Messages that reached the window (sent to it, whoever sent them).
  int ReceivedCount() const { return received_count_; }

  void WndProc(TMessage& message) override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // A state notification of the linked object, arrived or carried by an
  // answer: counts it, calls OnState with in (read past the state items),
  // wakes a waiting pump.
  void HeardState(TTransferMan& in);
  // The same for a change notification (OnChange).
  void HeardChange();

 private:
  void QmState(TMessage& message);
  void QmChange(TMessage& message);
  void QmPing(TMessage& message);
  // A client object is nobody's server: connects and disconnects sent to
  // it leave its link alone.
  void QmIgnore(TMessage& message);
  [[noreturn]] void NoAnswer(std::uint16_t message, bool timed_out) override;
  // Wakes a pump that waits for a condition (message_pump.h).
  void Wake();

  bool connected_ = false;
  int state_count_ = 0;
  int change_count_ = 0;
  int ping_count_ = 0;
  int received_count_ = 0;
};

}  // namespace vandrel::client
