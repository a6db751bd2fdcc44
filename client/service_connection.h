// TServiceConnection: a client program's link to the service of its
// session. Opening one finds the manager window (or starts the service,
// service_launcher.h) and connects to the manager with the client's
// protocol version and name; closing it disconnects. The service ends when
// its last client has disconnected (or was found gone by the manager's 5 s
// client check, which a client answers while it pumps messages).
//
//   vandrel::client::TClientOptions options;
//   options.Name = "My translator";
//   vandrel::client::TServiceConnection service(options);
//   win::HWND base_man = service.BaseManWindow();
//
// Used only by the thread that opened it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/remote_object.h"
#include "platform/win_types.h"
#include "service/handle_object.h"

namespace vandrel::client {

// The protocol version this library speaks.
constexpr std::int32_t kClientProtocolVersion = 1;

struct TClientOptions {
  // The client's name: the manager quotes it when it refuses the version.
  std::string Name = "Vandrel client";
  std::int32_t Version = kClientProtocolVersion;
  // Start the service when none runs; otherwise opening fails then.
  bool StartService = true;
  // The service program (empty: ServiceProgramPath()) and its arguments.
  std::string ServiceProgram;
  std::vector<std::string> ServiceArgs;
  // Bound for finding or starting the service and connecting.
  int TimeoutMs = 10000;
  // Time limit of every request of this process's client objects, in ms;
  // 0: $VANDREL_TIMEOUT (seconds), else 30 s. A request that gets no
  // answer in time raises EServiceUnavailable ("the service (pid N) did not
  // answer within 30 s").
  int RequestTimeoutMs = 0;
};

class TServiceConnection {
 public:
  // Finds or starts the service and connects. Raises EServiceError when
  // the manager refuses the connect (101: version not supported), and
  // Exception when no service can be reached in time.
  explicit TServiceConnection(const TClientOptions& options = TClientOptions());
  // Disconnects when still connected; errors are dropped (the service may
  // have gone).
  ~TServiceConnection();
  TServiceConnection(const TServiceConnection&) = delete;
  TServiceConnection& operator=(const TServiceConnection&) = delete;

  // Ends the link to the manager. Raises EServiceError when the manager
  // refuses it.
  void Disconnect();
  bool Connected() const { return manager_->Connected(); }

  // The client's object for the manager (its Remote() is the manager
  // window).
  TRemoteObject& Manager() { return *manager_; }
  win::HWND ManagerWindow() const { return manager_->Remote(); }
  // The process of the service that was connected.
  win::DWORD ServiceProcessId() const { return service_pid_; }
  // True when this connection started the service process itself.
  bool StartedService() const { return started_service_; }

  // QM_GETBASEMAN: the base manager's window (raises when the service has
  // none: "Method %d not implemented").
  win::HWND BaseManWindow();

 private:
  // One connect attempt to the manager window; false when the window went
  // away meanwhile (the service was ending), so that the caller tries again.
  bool TryConnect(win::HWND manager, const TClientOptions& options);

  TOwnedPtr<TRemoteObject> manager_;
  win::DWORD service_pid_ = 0;
  bool started_service_ = false;
};

}  // namespace vandrel::client
