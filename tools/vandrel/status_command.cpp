// `vandrel status`: whether a service runs in this session's namespace, its
// process id, and the round-trip time of one connect and disconnect.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "client/service_connection.h"
#include "client/service_launcher.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"
#include "tools/vandrel/command.h"

namespace vandrel::cli {
namespace {

int Status(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: vandrel status\n");
    return 2;
  }
  const std::string& ns = win::RuntimeDir();
  const win::HWND manager = client::FindManagerWindow();
  if (manager == 0) {
    std::printf("no Vandrel service is running in %s\n", ns.c_str());
    return 1;
  }
  win::DWORD pid = 0;
  win::GetWindowThreadProcessId(manager, &pid);
  std::printf("Vandrel service running in %s\nprocess id: %u\n", ns.c_str(),
              static_cast<unsigned>(pid));

  client::TClientOptions options;
  options.Name = "vandrel status";
  options.StartService = false;
  const auto start = std::chrono::steady_clock::now();
  {
    client::TServiceConnection connection(options);
    connection.Disconnect();
  }
  const auto end = std::chrono::steady_clock::now();
  const double ms = std::chrono::duration<double, std::milli>(end - start).count();
  std::printf("connect + disconnect: %.3f ms\n", ms);
  // A service without other clients ends with this disconnect, as after
  // any client's last disconnect.
  return 0;
}

const CommandRegistration registration{Command{
    "status", "status",
    "is a service running here: its process id and a connect/disconnect round trip", &Status}};

}  // namespace
}  // namespace vandrel::cli
