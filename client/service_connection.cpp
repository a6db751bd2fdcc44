// TServiceConnection: find or start, connect, disconnect.
#include "client/service_connection.h"

#include "client/service_error.h"
#include "client/service_launcher.h"
#include "platform/exceptions.h"
#include "platform/utf8.h"
#include "platform/window.h"
#include "protocol/manager_ids.h"
#include "protocol/message_ids.h"

namespace vandrel::client {

TServiceConnection::TServiceConnection(const TClientOptions& options)
    : manager_(new TRemoteObject(0)) {
  SetRequestTimeout(options.RequestTimeoutMs > 0 ? options.RequestTimeoutMs
                                                 : RequestTimeoutFromEnvironment());
  const win::DWORD start = win::GetTickCount();
  auto elapsed = [&] { return static_cast<int>(win::GetTickCount() - start); };
  for (;;) {
    win::HWND manager = FindManagerWindow();
    if (manager == 0) {
      if (!options.StartService) throw Exception("no Vandrel service is running in this session");
      const int left = options.TimeoutMs - elapsed();
      if (left <= 0) break;
      manager = client::StartService(options.ServiceProgram, options.ServiceArgs, left).Manager;
      started_service_ = true;
    }
    if (TryConnect(manager, options)) return;
    // The service ended between finding and connecting: find or start
    // another.
    if (elapsed() >= options.TimeoutMs) break;
    win::Sleep(1);
  }
  throw Exception("cannot reach a Vandrel service within " + std::to_string(options.TimeoutMs) +
                  " ms");
}

bool TServiceConnection::TryConnect(win::HWND manager, const TClientOptions& options) {
  manager_->SetRemote(manager);
  win::DWORD pid = 0;
  win::GetWindowThreadProcessId(manager, &pid);
  SetServiceProcessId(pid);
  TTransferMan& out = manager_->BeginRequest();
  out.WriteInteger(kConnectVersionItem, options.Version);
  out.WriteWideString(kConnectNameItem, Utf8ToWideLenient(options.Name));
  try {
    manager_->Request(QM_CONNECT);
  } catch (const EServiceUnavailable& e) {
    // A service that was ending: find or start another.
    if (e.TimedOut() || win::IsWindow(manager)) throw;
    return false;
  } catch (const EServiceError&) {
    throw;
  } catch (const Exception&) {
    if (win::IsWindow(manager)) throw;
    return false;
  }
  manager_->SetConnected(true);
  service_pid_ = pid;
  SetServiceProcessId(pid);
  return true;
}

TServiceConnection::~TServiceConnection() {
  if (!manager_->Connected()) return;
  try {
    Disconnect();
  } catch (const std::exception&) {
  }
}

void TServiceConnection::Disconnect() { manager_->Disconnect(); }

win::HWND TServiceConnection::BaseManWindow() {
  manager_->Call(QM_GETBASEMAN);
  return static_cast<win::HWND>(manager_->Answer().ReadInteger(kBaseManItem));
}

}  // namespace vandrel::client
