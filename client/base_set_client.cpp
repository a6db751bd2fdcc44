// TBaseSetClient: file, base and cursor requests, the owned typed objects
// and the base list the set sends.
#include "client/base_set_client.h"

#include <algorithm>
#include <exception>

#include "client/base_man_client.h"
#include "platform/exceptions.h"
#include "protocol/message_ids.h"
#include "protocol/model_ids.h"

namespace vandrel::client {

TBaseSetClient::TBaseSetClient(win::HWND base_set, TBaseManClient* base_man)
    : TRemoteObject(base_set), base_man_(base_man) {}

TBaseSetClient::~TBaseSetClient() {
  // The callbacks' owners may be gone already: the notifications that
  // closing brings run none of them.
  OnBaseList = nullptr;
  OnState = nullptr;
  OnChange = nullptr;
  for (TCursorClient* c : cursors_) {
    c->OnCursorState = nullptr;
    c->OnState = nullptr;
    c->OnChange = nullptr;
  }
  for (TBaseClient* b : bases_) {
    b->OnParams = nullptr;
    b->OnParamsChanged = nullptr;
    b->OnProgress = nullptr;
    b->OnState = nullptr;
    b->OnChange = nullptr;
  }
  try {
    Close();
  } catch (const std::exception&) {
    // The service may have gone; the objects are freed all the same.
  }
}

const TMessageTable& TBaseSetClient::MessageTable() {
  static const TMessageTable table("TBaseSetClient", &TRemoteObject::MessageTable(),
                                   {{QM_STATE, &TBaseSetClient::QmState}});
  return table;
}

void TBaseSetClient::QmState(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) == Remote()) {
    TTransferMan& in = Transfer();
    const std::int32_t count = in.ReadInteger(kItemCount);
    if (count < 0) throw Exception("base list of " + std::to_string(count) + " bases");
    std::vector<win::HWND> windows;
    for (std::int32_t i = 0; i < count; ++i) {
      windows.push_back(static_cast<win::HWND>(in.ReadInteger(kItemHandle)));
    }
    base_windows_ = std::move(windows);
    if (OnBaseList) OnBaseList(base_windows_);
  }
  Inherited<TBaseSetClient>(message);
}

std::vector<std::u16string> TBaseSetClient::ListFiles() {
  Call(BS_LIST_FILES);
  TTransferMan& in = Answer();
  const std::int32_t count = in.ReadInteger(kItemCount);
  if (count < 0) throw Exception("file list of " + std::to_string(count) + " files");
  std::vector<std::u16string> files;
  for (std::int32_t i = 0; i < count; ++i) files.push_back(in.ReadWideString(kItemFileName));
  return files;
}

void TBaseSetClient::CreateBaseFile(std::u16string_view file_name, std::int32_t language,
                                    std::int32_t trans_language, bool scramble, bool compress) {
  TTransferMan& out = BeginRequest();
  out.WriteWideString(kItemFileName, file_name);
  out.WriteInteger(kItemLanguage, language);
  out.WriteInteger(kItemTransLanguage, trans_language);
  out.WriteInteger(kItemScrambled, scramble ? 1 : 0);
  out.WriteInteger(kItemCompressed, compress ? 1 : 0);
  Request(BS_CREATE_BASE_FILE);
}

void TBaseSetClient::DeleteBaseFile(std::u16string_view file_name) {
  BeginRequest().WriteWideString(kItemFileName, file_name);
  Request(BS_DELETE_BASE_FILE);
}

win::HWND TBaseSetClient::OpenBaseWindow(std::u16string_view file_name) {
  BeginRequest().WriteWideString(kItemFileName, file_name);
  Request(BS_OPEN_BASE);
  return static_cast<win::HWND>(Answer().ReadInteger(kItemHandle));
}

void TBaseSetClient::CloseBaseWindow(win::HWND base) {
  BeginRequest().WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
  Request(BS_CLOSE_BASE);
}

win::HWND TBaseSetClient::NewCursorWindow() {
  Call(BS_NEW_CURSOR);
  return static_cast<win::HWND>(Answer().ReadInteger(kItemHandle));
}

void TBaseSetClient::FreeCursorWindow(win::HWND cursor) {
  BeginRequest().WriteInteger(kItemHandle, static_cast<std::int32_t>(cursor));
  Request(BS_FREE_CURSOR);
}

TBaseClient& TBaseSetClient::OpenBase(std::u16string_view file_name) {
  const win::HWND window = OpenBaseWindow(file_name);
  TOwnedPtr<TBaseClient> base(new TBaseClient(window));
  try {
    base->Connect();
  } catch (...) {
    // Not linked: the base is closed again, the error passed on.
    try {
      CloseBaseWindow(window);
    } catch (const std::exception&) {
    }
    throw;
  }
  bases_.push_back(base.release());
  return *bases_.back();
}

void TBaseSetClient::CloseBase(TBaseClient& base) {
  const auto it = std::find(bases_.begin(), bases_.end(), &base);
  if (it == bases_.end()) throw Exception("the base was not opened by this base set");
  // The object goes even when the request fails: its base is closed or
  // unknown to the service either way.
  TOwnedPtr<TBaseClient> owned(*it);
  bases_.erase(it);
  CloseBaseWindow(owned->Remote());
}

TCursorClient& TBaseSetClient::NewCursor() {
  const win::HWND window = NewCursorWindow();
  TOwnedPtr<TCursorClient> cursor(new TCursorClient(window));
  try {
    cursor->Connect();
  } catch (...) {
    try {
      FreeCursorWindow(window);
    } catch (const std::exception&) {
    }
    throw;
  }
  cursors_.push_back(cursor.release());
  return *cursors_.back();
}

void TBaseSetClient::FreeCursor(TCursorClient& cursor) {
  const auto it = std::find(cursors_.begin(), cursors_.end(), &cursor);
  if (it == cursors_.end()) throw Exception("the cursor was not made by this base set");
  TOwnedPtr<TCursorClient> owned(*it);
  cursors_.erase(it);
  FreeCursorWindow(owned->Remote());
}

TBaseClient* TBaseSetClient::FindBase(win::HWND base) const {
  for (TBaseClient* b : bases_) {
    if (b->Remote() == base) return b;
  }
  return nullptr;
}

void TBaseSetClient::Close() {
  if (closed_) return;
  closed_ = true;
  std::exception_ptr first;
  auto attempt = [&](auto&& step) {
    try {
      step();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  };
  // Cursors first: closing a base re-locates every cursor of the set.
  while (!cursors_.empty()) attempt([&] { FreeCursor(*cursors_.back()); });
  while (!bases_.empty()) attempt([&] { CloseBase(*bases_.back()); });
  if (base_man_ != nullptr && Remote() != 0) {
    attempt([&] { base_man_->FreeBaseSetWindow(Remote()); });
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace vandrel::client
