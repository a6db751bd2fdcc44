// A client program of the client tests: opens a connection to the session's
// service with the client library (starting the service when none runs),
// then offers a control window named CONTROL_NAME that tells what it
// connected to and, on request, disconnects and ends.
//   vandrel_client_peer CONTROL_NAME
// Exit codes: 0 after RQ_QUIT, 2 usage, 4 the connection failed.
#include <cstdio>
#include <memory>
#include <string>

#include "client/service_connection.h"
#include "platform/window.h"
#include "service/link_object.h"
#include "service/object_window.h"
#include "tests/client/peers/client_peer_protocol.h"

namespace vandrel::clientpeer {
namespace {

class TControl : public TLinkObject {
 public:
  explicit TControl(client::TServiceConnection* connection)
      : TLinkObject(nullptr), connection_(connection) {}
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TControl", &TLinkObject::MessageTable(),
                                     {{RQ_INFO, &TControl::Info}, {RQ_QUIT, &TControl::Quit}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Info(TMessage&) {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, static_cast<std::int32_t>(connection_->ManagerWindow()));
    Transfer().WriteInteger(2, static_cast<std::int32_t>(connection_->ServiceProcessId()));
    Transfer().WriteInteger(3, connection_->StartedService() ? 1 : 0);
  }
  void Quit(TMessage&) {
    connection_->Disconnect();
    win::PostQuitMessage(0);
  }
  client::TServiceConnection* connection_;
};

}  // namespace
}  // namespace vandrel::clientpeer

int main(int argc, char** argv) {
  using namespace vandrel;
  if (argc < 2) return 2;
  std::unique_ptr<client::TServiceConnection> connection;
  try {
    client::TClientOptions options;
    options.Name = "vandrel_client_peer";
    connection = std::make_unique<client::TServiceConnection>(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel_client_peer: %s\n", e.what());
    return 4;
  }
  ObjectWindowName() = argv[1];
  TOwnedPtr<clientpeer::TControl> control(new clientpeer::TControl(connection.get()));
  ObjectWindowName().clear();
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  return 0;
}
