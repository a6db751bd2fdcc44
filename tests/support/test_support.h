// What every test may use: where the built programs are, a private session
// namespace per test (so tests run in parallel and never meet a developer's
// running service), scratch folders that are removed afterwards, scoped
// environment variables, the test's child processes, and this thread's
// message loop run until a condition holds.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vandrel::test {

// The folder of every built program (services, tools, test peers).
std::string BinDir();
// The source tree's root (for shipped samples and corpora).
std::string SourceDir();

// A fresh folder under the system's temporary folder, removed with all its
// content on destruction.
class ScratchDir {
 public:
  // base: the folder to make it in (default: the system's temporary folder).
  explicit ScratchDir(const std::string& prefix = "vandrel-test", const std::string& base = "");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// /dev/shm when it is a writable memory file system, else the system's
// temporary folder.
std::string MemoryTempDir();

// Sets an environment variable (or unsets it, value null) for the lifetime
// of the object and restores the previous value, or its absence.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Points VANDREL_RUNTIME_DIR at a fresh private folder on memory
// (MemoryTempDir) for the lifetime of the object (child processes inherit it) and restores the
// previous value.
class ScopedRuntimeDir {
 public:
  ScopedRuntimeDir();
  ~ScopedRuntimeDir();
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;
  const std::string& path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
  std::optional<ScopedEnv> env_;
};

// The processes a test starts: each is killed (if still running) and
// reaped when the object goes, so no test leaves one behind.
class ChildProcesses {
 public:
  ChildProcesses() = default;
  ~ChildProcesses();
  ChildProcesses(const ChildProcesses&) = delete;
  ChildProcesses& operator=(const ChildProcesses&) = delete;

  // Starts BinDir()/program with args in folder cwd; 0 (and a test
  // failure) when it cannot be started.
  win::DWORD Start(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd);
  // Kills and reaps every child still running.
  void EndAll();
  const std::vector<win::DWORD>& pids() const { return pids_; }

 private:
  std::vector<win::DWORD> pids_;
};

// Handles this thread's messages until done() holds or timeout_ms pass; a
// short thread timer wakes the loop to test the condition. Returns done()'s
// last answer. Stops early (false) when WM_QUIT is taken.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms);

}  // namespace vandrel::test
