// The client's view of the service: how long a client with no service
// running waits until it is connected (the service's start included), the
// round trip of a connect and disconnect with a running service, and a
// bare ping as the floor under every request.
//
// Runs in a private namespace and state folder; VANDREL_SERVICE names the
// service program (default: vandrel-service beside this program).
//   cold_start        open a connection with no service running
//   connect_round     QM_CONNECT + QM_DISCONNECT on one client object
//   open_close        open and close a whole connection (own window and
//                     transfer buffer included)
//   ping              QM_PING to the manager window
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "client/remote_object.h"
#include "client/service_connection.h"
#include "client/service_launcher.h"
#include "platform/process.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"
#include "protocol/message_ids.h"
#include "service/errors.h"
#include "service/manager.h"

namespace vandrel::client::bench {

// Waits until the session has no service (the previous one has ended).
bool WaitNoService(int timeout_ms = 20000) {
  const win::DWORD start = win::GetTickCount();
  while (FindManagerWindow() != 0) {
    if (win::GetTickCount() - start > static_cast<win::DWORD>(timeout_ms)) return false;
    win::Sleep(1);
  }
  return true;
}

void ColdStart(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    if (!WaitNoService()) {
      state.SkipWithError("a service is still running");
      break;
    }
    state.ResumeTiming();
    auto connection = std::make_unique<TServiceConnection>();
    state.PauseTiming();
    const win::DWORD pid = connection->ServiceProcessId();
    connection.reset();  // the last client: the service ends
    while (win::ProcessAlive(pid)) win::Sleep(1);
    state.ResumeTiming();
  }
}
BENCHMARK(ColdStart)->Name("cold_start")->Iterations(20)->Unit(benchmark::kMillisecond);

// A running service, kept up by one connection for the whole run.
class Running {
 public:
  Running() {
    TClientOptions options;
    options.Name = "client_bench holder";
    holder_ = std::make_unique<TServiceConnection>(options);
  }
  win::HWND Manager() const { return holder_->ManagerWindow(); }

 private:
  std::unique_ptr<TServiceConnection> holder_;
};

// Created by the first benchmark that needs it; main() ends it before the
// process's own clean-up runs.
std::unique_ptr<Running>& RunningService() {
  static std::unique_ptr<Running> running;
  return running;
}

Running& Service() {
  if (!RunningService()) RunningService() = std::make_unique<Running>();
  return *RunningService();
}

void ConnectRound(benchmark::State& state) {
  TOwnedPtr<TRemoteObject> client(new TRemoteObject(Service().Manager()));
  for (auto _ : state) {
    TTransferMan& out = client->BeginRequest();
    out.WriteInteger(kConnectVersionItem, 1);
    out.WriteWideString(kConnectNameItem, u"client_bench");
    client->Request(QM_CONNECT);
    client->Call(QM_DISCONNECT);
  }
}
BENCHMARK(ConnectRound)->Name("connect_round")->Unit(benchmark::kMicrosecond);

void OpenClose(benchmark::State& state) {
  Service();
  TClientOptions options;
  options.StartService = false;
  for (auto _ : state) {
    TServiceConnection connection(options);
  }
}
BENCHMARK(OpenClose)->Name("open_close")->Unit(benchmark::kMicrosecond);

void Ping(benchmark::State& state) {
  const win::HWND manager = Service().Manager();
  win::DWORD n = 1;
  for (auto _ : state) {
    if (static_cast<win::DWORD>(win::SendMessageA(manager, QM_PING, n, 0)) != n) {
      state.SkipWithError("no echo");
      break;
    }
    ++n;
  }
}
BENCHMARK(Ping)->Name("ping")->Unit(benchmark::kMicrosecond);

}  // namespace vandrel::client::bench

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  // A private namespace and state folder: never meet a developer's service.
  // On tmpfs, where the default namespace lives, when there is one.
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path root =
      base / ("vandrel-client-bench-" + std::to_string(vandrel::win::GetCurrentProcessId()));
  fs::create_directories(root / "ns");
  fs::permissions(root / "ns", fs::perms::owner_all, fs::perm_options::replace);
  setenv("VANDREL_RUNTIME_DIR", (root / "ns").c_str(), 1);
  setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  vandrel::win::ResetRuntimeDir();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  vandrel::client::bench::RunningService().reset();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
