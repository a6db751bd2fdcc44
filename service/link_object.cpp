// TLinkObject: both ends of an exchange and the linking handlers.
#include "service/link_object.h"

#include <algorithm>
#include <exception>

#include "platform/error.h"
#include "platform/mapping.h"
#include "platform/process.h"
#include "platform/window.h"
#include "protocol/message_ids.h"
#include "service/errors.h"

namespace vandrel {

TLinkObject::TLinkObject(TNotifyObject* owner)
    : TNotifyObject(owner),
      transfer_(std::make_unique<TTransferMan>()),
      current_(transfer_.get()) {}

// The channel of the latest answer is retired rather than freed when the
// request it answered freed this object: its caller may still have to read
// it. The others were read long ago.
TLinkObject::~TLinkObject() {
  // Only an object freed by the very request it answered last (the last
  // disconnect) may have an answer that is still unread: any other was read
  // before its caller went on to the request that freed it.
  const bool recent = freed_by_own_request_ && win::GetTickCount() - last_answer_tick_ < kRetiredMs;
  for (auto& [caller, channel] : answers_) {
    if (recent && channel.Transfer.get() == last_answer_) {
      RetireTransfer(std::move(channel.Transfer));
    }
  }
  answers_.clear();
  if (recent && transfer_.get() == last_answer_) RetireTransfer(std::move(transfer_));
}

TTransferMan* TLinkObject::AnswerChannel(const TCaller& caller,
                                         std::unique_ptr<TTransferMan>* spare,
                                         TAnswerChannel** entry) {
  auto it = answers_.find(caller);
  if (it == answers_.end()) {
    SweepAnswerChannels();
    auto channel = std::make_unique<TTransferMan>();
    it = answers_.emplace(caller, TAnswerChannel{std::move(channel), 0}).first;
  }
  if (it->second.Busy > 0) {
    // The same caller again, nested inside its own request: the outer
    // request's channel is still in use.
    *spare = std::make_unique<TTransferMan>();
    return spare->get();
  }
  ++it->second.Busy;
  *entry = &it->second;
  return it->second.Transfer.get();
}

void TLinkObject::SweepAnswerChannels() {
  if (answers_.size() < sweep_at_) return;
  for (auto it = answers_.begin(); it != answers_.end();) {
    if (it->second.Busy == 0 && !win::IsWindow(it->first.Window)) {
      it = answers_.erase(it);
    } else {
      ++it;
    }
  }
  sweep_at_ = std::max<std::size_t>(16, answers_.size() * 2);
}

const TMessageTable& TLinkObject::MessageTable() {
  static const TMessageTable table("TLinkObject", &TNotifyObject::MessageTable(),
                                   {
                                       {QM_CONNECT, &TLinkObject::QmConnect},
                                       {QM_DISCONNECT, &TLinkObject::QmDisconnect},
                                       {QM_PING, &TLinkObject::QmPing},
                                   });
  return table;
}

void TLinkObject::ShowError(const std::string& text) {
  win::MessageBoxA(Handle(), text.c_str(), "Vandrel", win::MB_ICONERROR);
}

void TLinkObject::WndProc(TMessage& message) {
  const auto id = static_cast<std::uint16_t>(message.Msg & 0xFFFFu);
  const bool request = IsRequestId(id);
  const TCaller caller{static_cast<win::HWND>(message.WParam), win::GetMessageSenderProcessId()};
  // The channel of this request; the outer one comes back however it ends.
  TTransferMan* const outer = current_;
  std::unique_ptr<TTransferMan> spare;
  TAnswerChannel* entry = nullptr;
  struct TRestore {
    TLinkObject* self;
    TTransferMan* outer;
    std::unique_ptr<TTransferMan>* spare;
    TAnswerChannel** entry;
    ~TRestore() {
      self->current_ = outer;
      if (*entry != nullptr) --(*entry)->Busy;
      if (*spare != nullptr) RetireTransfer(std::move(*spare));
    }
  } restore{this, outer, &spare, &entry};
  if (request && per_caller_answers_) {
    try {
      current_ = AnswerChannel(caller, &spare, &entry);
    } catch (const std::exception& e) {
      // No channel to answer through: the caller reads buffer 0 and fails
      // with "Empty read buffer".
      ShowError(e.what());
      message.Result = 0;
      return;
    }
  }
  TTransferMan* const channel = current_;
  // Set when the handler failed with an error that is shown and answered.
  bool failed = false;
  std::string text;
  int code = 1;
  const std::uint64_t faults = win::MappingFaultCount();
  try {
    if (request) {
      channel->SetAnswer(kAnswerDone);
      channel->OpenRead(message.LParam, id);
      if (id == QM_CONNECT || id == QM_DISCONNECT) CheckLinkCaller(caller);
    }
    Dispatch(message);
  } catch (const EAbort&) {
    // Silent: the answer stays as the handler left it.
  } catch (const std::exception& e) {
    failed = true;
    text = e.what();
    code = ErrorCodeOf(e);
  } catch (...) {
    failed = true;
    text = "Unknown exception";
  }
  if (win::MappingFaultCount() != faults) {
    // A mapped file shrank under this request (a peer cut its buffer, a
    // dictionary was overwritten in place): what it read or wrote there is
    // void, and the damaged views are not used again.
    failed = true;
    if (request && channel->ReadViewDamaged()) {
      // The caller cut its own request buffer: its items do not fit any
      // more, as when the cut comes before the buffer is mapped.
      text = "Wrong read ID. Query " + std::to_string(id);
      code = kErrWrongReadId;
    } else {
      text = "The request failed: " + win::LastMappingFault() + " shrank while it was being read";
      code = 1;
    }
    channel->DropDamagedViews();
  }
  if (failed) {
    // The message box pumps sent messages: other requests may run here.
    ShowError(text);
    if (request) {
      try {
        channel->SetAnswer(kAnswerFailed);
        channel->ResetWrite();
        channel->WriteInteger(kErrorCodeItem, code);
        channel->WriteWideString(kErrorTextItem, ErrorTextToWide(text));
      } catch (const std::exception&) {
        // Only a failed growth lands here; BufferId then names a buffer
        // that does not exist and the caller's read fails with code 3.
      }
    }
  }
  if (!request) return;
  message.Result = channel->BufferId();
  last_answer_ = channel;
  last_answer_tick_ = win::GetTickCount();
  freed_by_own_request_ = FreePending();
  if (id == QM_DISCONNECT && !failed && entry != nullptr && entry->Busy == 1) {
    // The caller has let go of this object: its channel is kept only until
    // it has read this last answer.
    auto it = answers_.find(caller);
    if (it != answers_.end() && &it->second == entry) {
      entry = nullptr;
      RetireTransfer(std::move(it->second.Transfer));
      answers_.erase(it);
    }
  }
}

void TLinkObject::CheckLinkCaller(const TCaller& caller) {
  // A connect or disconnect names the window to link or unlink: only the
  // process that owns that window may send it (the service may on its
  // clients' behalf).
  if (caller.Process == 0 || caller.Process == win::GetCurrentProcessId()) return;
  win::DWORD owner = 0;
  win::GetWindowThreadProcessId(caller.Window, &owner);
  if (owner != caller.Process) {
    throw ELocal("Connect or disconnect query for a window of another process", kErrForeignWindow);
  }
}

void TLinkObject::DefaultHandler(TMessage& message) {
  if (IsRequestId(message.Msg)) {
    // The answer goes to this request's channel, not the object's own.
    current_->SetAnswer(kAnswerNotImplemented);
    return;
  }
  TNotifyObject::DefaultHandler(message);
}

namespace {
int query_timeout_ms = -1;
bool query_abort_if_hung = false;
}  // namespace

void TLinkObject::SetQueryTimeout(int ms, bool abort_if_hung) {
  query_timeout_ms = ms;
  query_abort_if_hung = abort_if_hung;
}
int TLinkObject::QueryTimeout() { return query_timeout_ms; }

void TLinkObject::NoAnswer(std::uint16_t message, bool /*timed_out*/) {
  // A peer that does not answer in time counts as gone.
  throw ELocal("Empty read buffer. Query " + std::to_string(-static_cast<std::int32_t>(message)),
               kErrEmptyReadBuffer);
}

void TLinkObject::Query(std::uint16_t message) {
  if (remote_ == 0) return;
  TTransferMan& channel = *current_;
  win::DWORD result = 0;
  if (query_timeout_ms < 0) {
    result =
        static_cast<win::DWORD>(win::SendMessageA(remote_, message, Handle(), channel.BufferId()));
    if (result == 0) NoAnswer(message, false);
  } else if (win::SendMessageTimeoutA(
                 remote_, message, Handle(), channel.BufferId(),
                 query_abort_if_hung ? win::SMTO_ABORTIFHUNG : win::SMTO_NORMAL,
                 static_cast<win::UINT>(query_timeout_ms), &result) == 0) {
    NoAnswer(message, win::GetLastError() == win::ERROR_TIMEOUT);
  }
  channel.OpenRead(static_cast<std::int32_t>(result), -static_cast<std::int32_t>(message));
  const std::int32_t answer = channel.ReadAnswer();
  switch (answer) {
    case kAnswerDone:
      return;
    case kAnswerFailed: {
      const std::int32_t code = channel.ReadInteger(kErrorCodeItem);
      const std::u16string text = channel.ReadWideString(kErrorTextItem);
      throw ERemote(ErrorTextFromWide(text), code);
    }
    case kAnswerNotImplemented:
      throw Exception("Method " + std::to_string(message) + " not implemented");
    default:
      throw Exception("Unknown answer " + std::to_string(answer) + " from remote on query " +
                      std::to_string(message));
  }
}

void TLinkObject::QmConnect(TMessage& message) { remote_ = static_cast<win::HWND>(message.WParam); }

void TLinkObject::QmDisconnect(TMessage&) {}

void TLinkObject::QmPing(TMessage& message) { message.Result = message.WParam; }

}  // namespace vandrel
