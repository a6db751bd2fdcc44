// The rest of the process-level calls: the module path, COM initialisation,
// the per-process random generator, and starting or watching other
// processes (the client starts the service on demand; tests start peers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vandrel::win {

// The running executable's full path; returns its length (0 on failure).
DWORD GetModuleFileNameA(HINSTANCE module, char* buffer, DWORD size);
std::string ModuleFileName();
// Do nothing.
long CoInitialize(void* reserved);
void CoUninitialize();

DWORD GetCurrentProcessId();
// One seeded generator per process: a random 32-bit number.
std::uint32_t Random32();

// Starts a program (argv[0] is its path), detached from the caller's session
// so that it outlives it, with the given working directory (empty: the
// caller's); standard input is /dev/null. Returns its process id, 0 on
// failure (last error set; a program that cannot be executed is reported
// here, not by a silent early exit). The program is not the caller's child:
// watch it with ProcessAlive, not WaitChildProcess.
// Its standard output and error go to /dev/null, or are appended to log_path
// when one is given: a detached program must not hold the caller's pipes
// open (a test runner would wait for it).
DWORD StartDetachedProcess(const std::vector<std::string>& argv, const std::string& work_dir);
DWORD StartDetachedProcess(const std::vector<std::string>& argv, const std::string& work_dir,
                           const std::string& log_path);
// Starts a child process that the caller waits for (tests, tools); it
// inherits standard input, output and error. Returns its process id, 0 on
// failure (last error set, e.g. ERROR_FILE_NOT_FOUND for a missing program).
DWORD StartChildProcess(const std::vector<std::string>& argv, const std::string& work_dir);
// Waits up to timeout_ms (-1: forever) for a child started by
// StartChildProcess. Returns true with its exit code (128 + signal when a
// signal ended it) when it ended in time.
bool WaitChildProcess(DWORD pid, int timeout_ms, int* exit_code);
// Sends SIGKILL (hard) or SIGTERM. Process ids 0 and above INT_MAX are
// refused (ERROR_INVALID_PARAMETER): they would name process groups.
bool KillProcess(DWORD pid, bool hard);
// True while the process exists and has not ended (an ended child that is
// not yet waited for counts as gone).
bool ProcessAlive(DWORD pid);
// Stops (suspend) or continues a process, as a debugger or a job control
// shell does (tests of peers that stop answering).
bool SuspendProcess(DWORD pid, bool suspend);

// Raises this process's soft limit of open descriptors to its hard limit
// (a service holds a few per client). Returns the limit now in force.
std::uint64_t RaiseDescriptorLimit();

}  // namespace vandrel::win
