// TLinkObject: both ends of an exchange and the linking handlers.
#include "service/link_object.h"

#include <exception>

#include "platform/window.h"
#include "service/errors.h"
#include "service/query_ids.h"

namespace vandrel {

TLinkObject::TLinkObject(TNotifyObject* owner)
    : TNotifyObject(owner), transfer_(std::make_unique<TTransferMan>()) {}

// The channel is retired rather than freed: the caller of the message that
// freed this object may still have to read its last answer.
TLinkObject::~TLinkObject() { RetireTransfer(std::move(transfer_)); }

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
  win::ShowWindow(Handle(), win::SW_SHOWNORMAL);
  win::SetWindowPos(Handle(), win::HWND_TOPMOST, 0, 0, 0, 0,
                    win::SWP_NOSIZE | win::SWP_NOMOVE | win::SWP_SHOWWINDOW);
  win::MessageBoxA(Handle(), text.c_str(), "Vandrel", win::MB_ICONERROR);
  win::ShowWindow(Handle(), win::SW_HIDE);
}

void TLinkObject::WndProc(TMessage& message) {
  const auto id = static_cast<std::uint16_t>(message.Msg & 0xFFFFu);
  const bool request = IsRequestId(id);
  // Set when the handler failed with an error that is shown and answered.
  bool failed = false;
  std::string text;
  int code = 1;
  try {
    if (request) {
      transfer_->SetAnswer(kAnswerDone);
      transfer_->OpenRead(message.LParam, id);
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
  if (failed) {
    // The message box pumps sent messages: other requests may run here.
    ShowError(text);
    if (request) {
      try {
        transfer_->SetAnswer(kAnswerFailed);
        transfer_->ResetWrite();
        transfer_->WriteInteger(kErrorCodeItem, code);
        transfer_->WriteWideString(kErrorTextItem, ErrorTextToWide(text));
      } catch (const std::exception&) {
        // Only a failed growth lands here; BufferId then names a buffer
        // that does not exist and the caller's read fails with code 3.
      }
    }
  }
  if (request) message.Result = transfer_->BufferId();
}

void TLinkObject::DefaultHandler(TMessage& message) {
  if (IsRequestId(message.Msg)) {
    transfer_->SetAnswer(kAnswerNotImplemented);
    return;
  }
  TNotifyObject::DefaultHandler(message);
}

void TLinkObject::Query(std::uint16_t message) {
  if (remote_ == 0) return;
  const win::LRESULT result =
      win::SendMessageA(remote_, message, Handle(), transfer_->BufferId());
  transfer_->OpenRead(result, -static_cast<std::int32_t>(message));
  const std::int32_t answer = transfer_->ReadAnswer();
  switch (answer) {
    case kAnswerDone:
      return;
    case kAnswerFailed: {
      const std::int32_t code = transfer_->ReadInteger(kErrorCodeItem);
      const std::u16string text = transfer_->ReadWideString(kErrorTextItem);
      throw ERemote(ErrorTextFromWide(text), code);
    }
    case kAnswerNotImplemented:
      throw Exception("Method " + std::to_string(message) + " not implemented");
    default:
      throw Exception("Unknown answer " + std::to_string(answer) + " from remote on query " +
                      std::to_string(message));
  }
}

void TLinkObject::QmConnect(TMessage& message) {
  remote_ = static_cast<win::HWND>(message.WParam);
}

void TLinkObject::QmDisconnect(TMessage&) {}

void TLinkObject::QmPing(TMessage& message) { message.Result = message.WParam; }

}  // namespace vandrel
