// TBaseManClient: base set requests.
#include "client/base_man_client.h"

#include "client/base_set_client.h"
#include "protocol/model_ids.h"

namespace vandrel::client {

TBaseManClient::TBaseManClient(win::HWND base_man) : TRemoteObject(base_man) {}

const TMessageTable& TBaseManClient::MessageTable() {
  static const TMessageTable table("TBaseManClient", &TRemoteObject::MessageTable(), {});
  return table;
}

win::HWND TBaseManClient::NewBaseSetWindow() {
  Call(BM_NEW_BASE_SET);
  return static_cast<win::HWND>(Answer().ReadInteger(kItemHandle));
}

void TBaseManClient::FreeBaseSetWindow(win::HWND base_set) {
  BeginRequest().WriteInteger(kItemHandle, static_cast<std::int32_t>(base_set));
  Request(BM_FREE_BASE_SET);
}

TOwnedPtr<TBaseSetClient> TBaseManClient::NewBaseSet() {
  const win::HWND window = NewBaseSetWindow();
  TOwnedPtr<TBaseSetClient> set(new TBaseSetClient(window, this));
  // A failed link still frees the new base set (the destructor closes it).
  set->Connect();
  return set;
}

}  // namespace vandrel::client
