// A client program of the end-to-end tests: connects to the session's
// running service, makes a base set, and offers a control window named
// CONTROL_NAME through which the test opens bases, looks words up and
// edits parameters in this process.
//   vandrel_e2e_peer CONTROL_NAME
// Exit codes: 0 after PQ_QUIT, 2 usage, 4 the connection failed.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/cursor_match_client.h"
#include "client/service_connection.h"
#include "model/model_ids.h"
#include "platform/exceptions.h"
#include "platform/window.h"
#include "service/link_object.h"
#include "service/object_window.h"
#include "tests/e2e/peers/e2e_peer_protocol.h"

namespace vandrel::e2epeer {
namespace {

class TControl : public TLinkObject {
 public:
  TControl(client::TServiceConnection* connection, client::TBaseSetClient* set)
      : TLinkObject(nullptr), connection_(connection), set_(set) {}
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TControl", &TLinkObject::MessageTable(),
                                     {{PQ_OPEN, &TControl::Open},
                                      {PQ_LOCATE, &TControl::Locate},
                                      {PQ_SET_NAME, &TControl::SetName},
                                      {PQ_PARAMS, &TControl::Params},
                                      {PQ_QUIT, &TControl::Quit},
                                      {PQ_PAGE, &TControl::Page}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  client::TBaseClient& FirstBase() {
    if (set_->Bases().empty()) throw Exception("the peer has no base open");
    return *set_->Bases().front();
  }
  void Open(TMessage&) {
    const std::u16string name = Transfer().ReadWideString(kItemFileName);
    const win::HWND base = set_->OpenBase(name).Remote();
    Transfer().ResetWrite();
    Transfer().WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
  }
  void Locate(TMessage&) {
    const std::u16string text = Transfer().ReadWideString(kItemWord);
    if (cursor_ == nullptr) cursor_ = &set_->NewCursor();
    const bool found = cursor_->Locate(text);
    std::u16string trans;
    if (!cursor_->State().Bases.empty()) trans = cursor_->GetTrans(cursor_->State().Bases.front());
    Transfer().ResetWrite();
    Transfer().WriteInteger(kItemResult, found ? 1 : 0);
    Transfer().WriteWideString(kItemWord, cursor_->State().Word);
    Transfer().WriteWideString(kItemTrans, trans);
  }
  void SetName(TMessage&) {
    const std::u16string name = Transfer().ReadWideString(kItemName);
    FirstBase().SetName(name);
  }
  void Params(TMessage&) {
    client::TBaseClient& base = FirstBase();
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, base.ParamsCount());
    Transfer().WriteInteger(2, base.ParamsChangedCount());
    Transfer().WriteWideString(kItemName, base.Params().Name);
  }
  void Page(TMessage&) {
    const std::u16string text = Transfer().ReadWideString(kItemWord);
    const std::int32_t count = Transfer().ReadInteger(kItemCount);
    if (cursor_ == nullptr) cursor_ = &set_->NewCursor();
    const std::vector<client::TMatchedWord> words =
        client::MatchWords(*cursor_, u"prefix", text, count);
    // Item by item: the answer channel grows as the items come.
    Transfer().ResetWrite();
    Transfer().WriteInteger(kItemCount, static_cast<std::int32_t>(words.size()));
    for (const client::TMatchedWord& w : words) Transfer().WriteWideString(kItemWord, w.Word);
  }
  void Quit(TMessage&) {
    cursor_ = nullptr;
    set_->Close();
    connection_->Disconnect();
    win::PostQuitMessage(0);
  }

  client::TServiceConnection* connection_;
  client::TBaseSetClient* set_;
  client::TCursorClient* cursor_ = nullptr;  // owned by set_
};

}  // namespace
}  // namespace vandrel::e2epeer

int main(int argc, char** argv) {
  using namespace vandrel;
  if (argc < 2) return 2;
  std::unique_ptr<client::TServiceConnection> connection;
  TOwnedPtr<client::TBaseManClient> base_man;
  TOwnedPtr<client::TBaseSetClient> set;
  try {
    client::TClientOptions options;
    options.Name = "vandrel_e2e_peer";
    options.StartService = false;
    connection = std::make_unique<client::TServiceConnection>(options);
    base_man.reset(new client::TBaseManClient(connection->BaseManWindow()));
    set = base_man->NewBaseSet();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel_e2e_peer: %s\n", e.what());
    return 4;
  }
  ObjectWindowName() = argv[1];
  TOwnedPtr<e2epeer::TControl> control(new e2epeer::TControl(connection.get(), set.get()));
  ObjectWindowName().clear();
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  return 0;
}
