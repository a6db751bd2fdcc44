// A started msgpeer process (peers/msgpeer.cpp) as the platform tests use
// it: killed and reaped on destruction if still running.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

namespace vandrel::test::msgpeer {

class MsgPeerProcess {
 public:
  static constexpr int kWaitMs = 20000;

  explicit MsgPeerProcess(const std::vector<std::string>& args) { Start(args); }
  // The same with one environment variable set for the peer only.
  MsgPeerProcess(const std::vector<std::string>& args, const char* name, const std::string& value) {
    ScopedEnv env(name, value);
    Start(args);
  }
  ~MsgPeerProcess() {
    if (pid_ != 0 && !ended_) {
      win::KillProcess(pid_, true);
      int code;
      win::WaitChildProcess(pid_, kWaitMs, &code);
    }
  }
  MsgPeerProcess(const MsgPeerProcess&) = delete;
  MsgPeerProcess& operator=(const MsgPeerProcess&) = delete;

  win::DWORD pid() const { return pid_; }
  // The peer's window once it exists; 0 when it did not appear in time.
  win::HWND WaitForWindow(const std::string& name) const {
    const win::DWORD start = win::GetTickCount();
    while (win::GetTickCount() - start < static_cast<win::DWORD>(kWaitMs)) {
      if (win::HWND h = win::FindWindowA("STATIC", name.c_str())) return h;
      win::Sleep(1);
    }
    return 0;
  }
  // The exit code, or -1 when the peer did not end in time.
  int Wait() {
    int code = -1;
    if (win::WaitChildProcess(pid_, kWaitMs, &code)) {
      ended_ = true;
      return code;
    }
    return -1;
  }
  void Kill() {
    win::KillProcess(pid_, true);
    EXPECT_EQ(Wait(), 128 + 9);
  }

 private:
  void Start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BinDir() + "/msgpeer"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = win::StartChildProcess(argv, "");
  }

  win::DWORD pid_ = 0;
  bool ended_ = false;
};

}  // namespace vandrel::test::msgpeer
