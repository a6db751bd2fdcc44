// TLinkObject: a message object that a client in another process can
// address. It owns a transfer channel, answers requests (the receiving end
// of an exchange, WndProc) and sends requests to the one peer window it is
// linked to (the calling end, Query).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win_types.h"
#include "service/message.h"
#include "service/notify.h"
#include "service/transfer_man.h"

namespace vandrel {

class TLinkObject : public TNotifyObject {
 public:
  // Creates the window (inherited) and the transfer channel; raises the
  // channel's ELocal when the shared memory cannot be set up.
  explicit TLinkObject(TNotifyObject* owner);
  // Retires the transfer channel (its last answer stays readable for a
  // while, see RetireTransfer), then the inherited parts (window, lists).
  ~TLinkObject() override;

  // The receiving end. For a request (identifier QM_FIRST..QM_LAST): answer
  // code 1 in the own buffer, the sender's buffer (LParam) mapped for
  // reading, dispatch by identifier, and Result := BufferId read after the
  // handler ran (appending results may have grown the buffer). Ordinary
  // messages are dispatched unchanged. A handler's EAbort (ERemote included)
  // is swallowed and leaves the answer as the handler left it; any other
  // exception is shown in a message box captioned "Vandrel" owned by this
  // object's window and, for a request, answered with code 2, item 3 = the
  // ELocal code or 1, item 4 = the message.
  void WndProc(TMessage& message) override;
  // A request that no class handles is answered with code 3; anything else
  // goes to DefWindowProcA.
  void DefaultHandler(TMessage& message) override;

  // The calling end: sends message to Remote() with this object's window
  // and buffer number, after the caller has written the request's items
  // (ResetWrite, Write...). Does nothing while Remote() is 0. On return the
  // answer is mapped for reading (read errors then quote minus the message
  // id). Raises ERemote with the peer's text and code when the peer failed,
  // Exception "Method %d not implemented" when the peer has no handler, and
  // Exception "Unknown answer %d from remote on query %d" for any other
  // answer code. A peer window that no longer exists answers 0, which fails
  // with "Empty read buffer. Query %d" quoting minus the message id.
  void Query(std::uint16_t message);

  // The linked peer's window; 0 = not linked. Set by QM_CONNECT, never
  // cleared at this level.
  win::HWND Remote() const { return remote_; }
  void SetRemote(win::HWND remote) { remote_ = remote; }
  TTransferMan& Transfer() { return *transfer_; }
  const TTransferMan& Transfer() const { return *transfer_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // QM_CONNECT: Remote := WParam (the caller's window).
  void QmConnect(TMessage& message);
  // QM_DISCONNECT: nothing at this level; subclasses extend it.
  void QmDisconnect(TMessage& message);
  // QM_PING: Result := WParam.
  void QmPing(TMessage& message);

 private:
  // Shows a failed message's error (message box owned by Handle).
  void ShowError(const std::string& text);

  win::HWND remote_ = 0;
  std::unique_ptr<TTransferMan> transfer_;
};

}  // namespace vandrel
