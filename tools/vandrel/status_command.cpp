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
#include "tools/vandrel/json_output.h"

namespace vandrel::cli {
namespace {

int Status(const std::vector<std::string>& args) {
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "-h" || a == "--help") {
      std::printf("usage: vandrel status [--json]\n");
      return 0;
    } else {
      std::fprintf(stderr, "usage: vandrel status [--json]\n");
      return 2;
    }
  }
  const std::string& ns = win::RuntimeDir();
  const win::HWND manager = client::FindManagerWindow();
  if (manager == 0) {
    if (json) {
      PrintJson(Json{{"running", false}, {"runtime_dir", ns}});
    } else {
      std::printf("no Vandrel service is running in %s\n", ns.c_str());
    }
    return 1;
  }
  win::DWORD pid = 0;
  win::GetWindowThreadProcessId(manager, &pid);
  if (!json) {
    std::printf("Vandrel service running in %s\nprocess id: %u\n", ns.c_str(),
                static_cast<unsigned>(pid));
  }

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
  if (json) {
    PrintJson(Json{{"running", true},
                   {"runtime_dir", ns},
                   {"process_id", static_cast<unsigned>(pid)},
                   {"round_trip_ms", ms}});
  } else {
    std::printf("connect + disconnect: %.3f ms\n", ms);
  }
  // A service without other clients ends with this disconnect, as after
  // any client's last disconnect.
  return 0;
}

const CommandRegistration registration{Command{
    "status", "status [--json]",
    "is a service running here: its process id and a connect/disconnect round trip", &Status}};

}  // namespace
}  // namespace vandrel::cli
