// A client process of the service tests, speaking the manager protocol by
// hand: connects to the running service's manager with the given protocol
// version, then shows that it is ready by creating a window named
// READY_NAME, and answers messages (the manager's pings) until it is
// killed. With "hang" it stops handling messages once it is ready, as a
// client stuck in a long computation does.
//   vandrel_svc_probe READY_NAME [VERSION [hang]]
// Exit codes: 2 usage, 3 no service, 4 connect failed.
#include <cstdio>
#include <string>

#include "platform/window.h"
#include "protocol/manager_ids.h"
#include "service/handle_object.h"
#include "service/link_object.h"
#include "service/object_window.h"
#include "tests/support/manager_probe.h"

int main(int argc, char** argv) {
  using namespace vandrel;
  if (argc < 2) return 2;
  const std::string ready_name = argv[1];
  const int version = argc > 2 ? std::stoi(argv[2]) : 1;
  const win::HWND manager = win::FindWindowA(kManagerWindowClass, kManagerWindowName);
  if (manager == 0) return 3;
  TOwnedPtr<test::TManagerProbe> client(new test::TManagerProbe(manager));
  try {
    client->Connect(version, "vandrel_svc_probe");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel_svc_probe: %s\n", e.what());
    return 4;
  }
  ObjectWindowName() = ready_name;
  TOwnedPtr<TLinkObject> ready(new TLinkObject(nullptr));
  ObjectWindowName().clear();
  if (argc > 3 && std::string(argv[3]) == "hang") {
    for (;;) win::Sleep(1000);
  }
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  return 0;
}
