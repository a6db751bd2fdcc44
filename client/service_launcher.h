// Finding the service of this session and starting it on demand. The
// service is found by its manager's window name; when there is none, the
// client starts the service program detached (it outlives the client) in
// the per-user state folder, and waits for the manager window. Two clients
// that start a service at the same moment end up with one: the second
// service cannot take the window name and exits at once, and both clients
// find the first one's window.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vandrel::client {

// The service program: $VANDREL_SERVICE when set, else "vandrel-service"
// beside the running program, else where it was installed
// (service_location.h).
std::string ServiceProgramPath();

// The per-user state folder, the service's working directory (its error
// log and temporary update container live there):
// $XDG_STATE_HOME/vandrel, else $HOME/.local/state/vandrel. Created (with
// its parents) when missing; raises Exception when that fails.
std::string ClientStateFolder();

// The manager window of this session's service, 0 when none runs.
win::HWND FindManagerWindow();

struct TServiceStart {
  win::HWND Manager = 0;     // the manager window found after the start
  win::DWORD ProcessId = 0;  // the process that owns it
};

// Starts the service program (program empty: ServiceProgramPath()) with
// args, detached, in ClientStateFolder(), its output appended to
// "service.log" there, and waits up to timeout_ms for a manager window of
// the session - the new service's, or another one's that won a race.
// Raises Exception with a clear text when the program cannot be started or
// no manager window appears in time.
TServiceStart StartService(const std::string& program, const std::vector<std::string>& args,
                           int timeout_ms);

}  // namespace vandrel::client
