// A client program of the word-update tests: a second process that holds a
// dictionary or the update file, or runs an update and leaves while the
// merge asks it for progress.
//   vandrel_update_peer RESULT_FILE DICT ACTION [COUNT]
// ACTION:
//   hold         opens DICT, writes "ready SERVICE_PID" to RESULT_FILE, serves
//                until killed
//   hold-update  the same inside an update bracket holding one change
//   disconnect   an update of COUNT new words; at the first progress question
//                the program disconnects from the service
//   exit         the same, but the program ends at the first progress question
// After an update RESULT_FILE holds "ok", or "error CODE TEXT".
// The service of the session is used; with $VANDREL_PEER_DIC set, one is
// started on that dictionary folder when none runs.
// Exit codes: 0 done, 2 usage, 4 the connection or the base failed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/service_connection.h"
#include "client/service_error.h"
#include "platform/window.h"

namespace {

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text << "\n";
}

void Serve() {
  vandrel::win::MSG msg;
  while (vandrel::win::GetMessageA(&msg, 0, 0, 0) > 0) vandrel::win::DispatchMessageA(&msg);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vandrel;
  if (argc < 4) return 2;
  const std::string result = argv[1];
  const std::string dict = argv[2];
  const std::string action = argv[3];
  const int count = argc > 4 ? std::atoi(argv[4]) : 10;
  std::unique_ptr<client::TServiceConnection> connection;
  TOwnedPtr<client::TBaseManClient> base_man;
  TOwnedPtr<client::TBaseSetClient> set;
  client::TBaseClient* base = nullptr;
  try {
    client::TClientOptions options;
    options.Name = "vandrel_update_peer";
    const char* folder = std::getenv("VANDREL_PEER_DIC");
    options.StartService = folder != nullptr;
    if (folder != nullptr) options.ServiceArgs = {folder};
    connection = std::make_unique<client::TServiceConnection>(options);
    base_man.reset(new client::TBaseManClient(connection->BaseManWindow()));
    set = base_man->NewBaseSet();
    base = &set->OpenBase(std::u16string(dict.begin(), dict.end()));
  } catch (const std::exception& e) {
    Write(result, std::string("error 0 ") + e.what());
    return 4;
  }
  try {
    const std::string ready = "ready " + std::to_string(connection->ServiceProcessId());
    if (action == "hold") {
      Write(result, ready);
      Serve();
      return 0;
    }
    if (action == "hold-update") {
      base->BeginUpdate();
      base->PutWord(u"held", u"by the peer");
      Write(result, ready);
      Serve();
      return 0;
    }
    if (action != "disconnect" && action != "exit") return 2;
    bool acted = false;
    base->OnProgress = [&](std::int32_t, std::int32_t) {
      if (acted) return false;
      acted = true;
      if (action == "exit") {
        Write(result, "exited");
        std::_Exit(0);
      }
      connection->Disconnect();
      return false;
    };
    base->BeginUpdate();
    for (int i = 0; i < count; ++i) {
      char word[32];
      std::snprintf(word, sizeof word, "peer%05d", i);
      const std::string w = word;
      base->PutWord(std::u16string(w.begin(), w.end()), u"from the peer");
    }
    base->EndUpdate();
    Write(result, "ok");
  } catch (const client::EServiceError& e) {
    Write(result, "error " + std::to_string(e.Code()) + " " + e.Text());
  } catch (const std::exception& e) {
    Write(result, std::string("error 0 ") + e.what());
  }
  // The link may be gone: nothing is asked of the service any more.
  std::fflush(nullptr);
  std::_Exit(0);
}
