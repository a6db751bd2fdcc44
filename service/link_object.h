// TLinkObject: a message object that a client in another process can
// address. It owns a transfer channel, answers requests (the receiving end
// of an exchange, WndProc) and sends requests to the one peer window it is
// linked to (the calling end, Query).
//
// Answers never cross. A request's answer is read by its caller only after
// the reply has reached it, while the object may already be handling the
// next request - of another client, or nested inside a call of its own. So
// an object that answers requests (PerCallerAnswers, the default) keeps one
// answer channel per caller: per calling window and the process that sent
// from it (the system tells the process; a window number can be claimed by
// anyone). The answer to a caller stays in its channel until that caller's
// next request; a request that arrives while the same caller's previous one
// is still being handled (nested) gets a channel of its own. Each channel
// keeps the layout, codes and growth rule of the exchange. Transfer() is the
// channel of the request being handled, and the object's own channel
// outside requests (its calls to its peer that no request of a caller
// carries). Channels of callers that are gone are dropped as the table
// grows, and a caller's channel is retired (kept readable for a while, see
// RetireTransfer) after its disconnect.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/win_types.h"
#include "service/message.h"
#include "service/notify.h"
#include "service/transfer_man.h"

namespace vandrel {

// A connect or disconnect sent by one process for another process's window.
constexpr int kErrForeignWindow = 104;

class TLinkObject : public TNotifyObject {
 public:
  // Creates the window (inherited) and the transfer channel; raises the
  // channel's ELocal when the shared memory cannot be set up.
  explicit TLinkObject(TNotifyObject* owner);
  // Retires the transfer channels (their last answers stay readable for a
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
  // answer code. A peer window that no longer exists, or that does not
  // answer within QueryTimeout(), fails through NoAnswer.
  void Query(std::uint16_t message);

  // The time limit of every Query of this process, in ms; -1 (the default)
  // waits as long as the peer lives. The service sets one check period with
  // abort_if_hung: a client that does not answer a notification within it
  // counts as gone, and later sends to it fail at once until it answers
  // again.
  static void SetQueryTimeout(int ms, bool abort_if_hung = false);
  static int QueryTimeout();

  // The linked peer's window; 0 = not linked. Set by QM_CONNECT, never
  // cleared at this level.
  win::HWND Remote() const { return remote_; }
  void SetRemote(win::HWND remote) { remote_ = remote; }
  // The channel of the request being handled, else the own channel.
  TTransferMan& Transfer() { return *current_; }
  const TTransferMan& Transfer() const { return *current_; }
  // Number of answer channels kept for callers.
  std::size_t AnswerChannelCount() const { return answers_.size(); }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // Off: every request is answered through the own channel (a client's
  // objects, which only their one server object calls).
  void SetPerCallerAnswers(bool on) { per_caller_answers_ = on; }

  // Raised when the peer did not answer a Query (it is gone, or did not
  // answer within QueryTimeout(): timed_out): ELocal "Empty read buffer.
  // Query %d" quoting minus the message id (code 4).
  [[noreturn]] virtual void NoAnswer(std::uint16_t message, bool timed_out);

  // QM_CONNECT: Remote := WParam (the caller's window).
  void QmConnect(TMessage& message);
  // QM_DISCONNECT: nothing at this level; subclasses extend it.
  void QmDisconnect(TMessage& message);
  // QM_PING: Result := WParam.
  void QmPing(TMessage& message);

 private:
  // Shows a failed message's error (message box owned by Handle).
  void ShowError(const std::string& text);

  struct TCaller {
    win::HWND Window;
    win::DWORD Process;
    bool operator<(const TCaller& o) const {
      return Window != o.Window ? Window < o.Window : Process < o.Process;
    }
  };
  struct TAnswerChannel {
    std::unique_ptr<TTransferMan> Transfer;
    int Busy = 0;  // requests of this caller being handled (nested)
  };
  // The channel that answers a request of caller; *spare receives a channel
  // of its own when the caller's is busy.
  TTransferMan* AnswerChannel(const TCaller& caller, std::unique_ptr<TTransferMan>* spare,
                              TAnswerChannel** entry);
  // Drops the channels of callers whose windows are gone, once the table
  // has doubled since the last sweep.
  void SweepAnswerChannels();
  // Refuses (ELocal 104) a connect or disconnect that another process sends
  // for a window it does not own.
  static void CheckLinkCaller(const TCaller& caller);

  win::HWND remote_ = 0;
  std::unique_ptr<TTransferMan> transfer_;  // the own channel
  TTransferMan* current_ = nullptr;
  bool per_caller_answers_ = true;
  std::map<TCaller, TAnswerChannel> answers_;
  std::size_t sweep_at_ = 16;
  // The channel of the latest answer, and when it was written.
  const TTransferMan* last_answer_ = nullptr;
  win::DWORD last_answer_tick_ = 0;
  bool freed_by_own_request_ = false;
};

}  // namespace vandrel
