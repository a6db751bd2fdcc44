// Finding and starting the service.
#include "client/service_launcher.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "client/service_location.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/process.h"
#include "platform/window.h"
#include "protocol/manager_ids.h"

namespace vandrel::client {
namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string ServiceProgramPath() { return LocateServiceProgram(); }

std::string ClientStateFolder() {
  std::filesystem::path folder;
  const std::string state_home = EnvOrEmpty("XDG_STATE_HOME");
  if (!state_home.empty()) {
    folder = std::filesystem::path(state_home) / "vandrel";
  } else {
    const std::string home = EnvOrEmpty("HOME");
    if (home.empty())
      throw Exception("cannot find the state folder: neither XDG_STATE_HOME nor HOME is set");
    folder = std::filesystem::path(home) / ".local" / "state" / "vandrel";
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    throw Exception("cannot create the state folder " + folder.string() + ": " +
                    (ec ? ec.message() : std::string("not a folder")));
  }
  return folder.string();
}

win::HWND FindManagerWindow() { return win::FindWindowA(kManagerWindowClass, kManagerWindowName); }

TServiceStart StartService(const std::string& program, const std::vector<std::string>& args,
                           int timeout_ms) {
  const std::string path = program.empty() ? ServiceProgramPath() : program;
  const std::string folder = ClientStateFolder();
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  const win::DWORD pid = win::StartDetachedProcess(argv, folder, folder + "/service.log");
  if (pid == 0) {
    throw Exception("cannot start the Vandrel service " + path + ": " +
                    win::SysErrorMessage(win::GetLastError()));
  }
  // The new service names its window within milliseconds; a service that
  // lost the name to another one exits, and the winner's window counts.
  const win::DWORD start = win::GetTickCount();
  for (win::DWORD wait_ms = 1;; wait_ms = wait_ms < 16 ? wait_ms * 2 : 16) {
    if (const win::HWND manager = FindManagerWindow()) {
      TServiceStart result;
      result.Manager = manager;
      win::GetWindowThreadProcessId(manager, &result.ProcessId);
      return result;
    }
    if (win::GetTickCount() - start >= static_cast<win::DWORD>(timeout_ms)) break;
    if (!win::ProcessAlive(pid) && FindManagerWindow() == 0) {
      throw Exception("the Vandrel service " + path + " ended at start (see " + folder +
                      "/service.log)");
    }
    win::Sleep(wait_ms);
  }
  throw Exception("the Vandrel service " + path + " did not open its manager window within " +
                  std::to_string(timeout_ms) + " ms");
}

}  // namespace vandrel::client
