// The shared test helpers: folders, environment, child processes, pumping.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/process.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"

namespace vandrel::test {

std::string BinDir() { return VANDREL_BIN_DIR; }
std::string SourceDir() { return VANDREL_SOURCE_DIR; }

std::string MemoryTempDir() {
  struct statfs fs {};
  if (statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

ScratchDir::ScratchDir(const std::string& prefix, const std::string& base) {
  const std::filesystem::path folder =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::string tmpl = (folder / (prefix + "-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + tmpl);
  path_ = buf.data();
  chmod(path_.c_str(), 0700);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) previous_ = old;
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedRuntimeDir::ScopedRuntimeDir() : dir_("vandrel-ns", MemoryTempDir()) {
  env_.emplace("VANDREL_RUNTIME_DIR", dir_.path());
  win::ResetRuntimeDir();
}

ScopedRuntimeDir::~ScopedRuntimeDir() {
  env_.reset();
  win::ResetRuntimeDir();
}

ChildProcesses::~ChildProcesses() { EndAll(); }

win::DWORD ChildProcesses::Start(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& cwd) {
  std::vector<std::string> argv{BinDir() + "/" + program};
  argv.insert(argv.end(), args.begin(), args.end());
  const win::DWORD pid = win::StartChildProcess(argv, cwd);
  EXPECT_NE(pid, 0u) << program;
  if (pid != 0) pids_.push_back(pid);
  return pid;
}

void ChildProcesses::EndAll() {
  // A bound on each wait: a child that ignores the kill is reported by the
  // test that started it, not waited for forever.
  constexpr win::DWORD kReapMs = 20000;
  for (win::DWORD pid : pids_) {
    int code = 0;
    if (!win::WaitChildProcess(pid, 0, &code)) {
      win::KillProcess(pid, true);
      win::WaitChildProcess(pid, kReapMs, &code);
    }
  }
  pids_.clear();
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  const win::DWORD start = win::GetTickCount();
  const win::UINT_PTR timer = win::SetTimer(0, 0, 10, nullptr);
  win::MSG msg;
  bool result = done();
  while (!result && win::GetTickCount() - start < static_cast<win::DWORD>(timeout_ms)) {
    if (win::GetMessageA(&msg, 0, 0, 0) <= 0) break;
    win::DispatchMessageA(&msg);
    result = done();
  }
  win::KillTimer(0, timer);
  return result;
}

}  // namespace vandrel::test
