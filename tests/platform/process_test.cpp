// Starting, waiting for, detaching and killing real processes, and the
// module path.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/error.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

std::string Peer() { return test::BinDir() + "/procpeer"; }

// Waits (bounded) for a file that another process writes atomically.
std::string WaitForFile(const std::string& path) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(path);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      return text.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {};
}

bool WaitUntilGone(DWORD pid) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    if (!ProcessAlive(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST(ChildProcess, ReportsExitCodeAndWorkingDirectory) {
  DWORD pid = StartChildProcess({Peer(), "exit", "42"}, "");
  ASSERT_NE(pid, 0u);
  int code = -1;
  ASSERT_TRUE(WaitChildProcess(pid, 20000, &code));
  EXPECT_EQ(code, 42);

  test::ScratchDir dir;
  std::string out = dir.path() + "/cwd.txt";
  pid = StartChildProcess({Peer(), "cwd", out}, dir.path());
  ASSERT_NE(pid, 0u);
  ASSERT_TRUE(WaitChildProcess(pid, -1, &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(std::filesystem::canonical(WaitForFile(out)), std::filesystem::canonical(dir.path()));
}

TEST(ChildProcess, MissingProgramOrFolderFailsAtStart) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(StartChildProcess({"/nonexistent/program"}, ""), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StartChildProcess({Peer(), "exit", "0"}, "/nonexistent/folder"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StartChildProcess({}, ""), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(StartDetachedProcess({"/nonexistent/program"}, ""), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(ChildProcess, WaitTimesOutThenKillEndsItWithTheSignal) {
  DWORD pid = StartChildProcess({Peer(), "hang"}, "");
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(ProcessAlive(pid));
  int code = -1;
  EXPECT_FALSE(WaitChildProcess(pid, 30, &code));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  ASSERT_TRUE(KillProcess(pid, true));
  ASSERT_TRUE(WaitChildProcess(pid, 20000, &code));
  EXPECT_EQ(code, 128 + 9);
  EXPECT_FALSE(ProcessAlive(pid));

  pid = StartChildProcess({Peer(), "hang"}, "");
  ASSERT_NE(pid, 0u);
  ASSERT_TRUE(KillProcess(pid, false));
  ASSERT_TRUE(WaitChildProcess(pid, 20000, &code));
  EXPECT_EQ(code, 128 + 15);
}

TEST(ChildProcess, EndedButUnwaitedChildIsNotAlive) {
  DWORD pid = StartChildProcess({Peer(), "exit", "0"}, "");
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(WaitUntilGone(pid));
  int code = -1;
  EXPECT_TRUE(WaitChildProcess(pid, 20000, &code));
}

TEST(ChildProcess, RefusesProcessGroupNumbers) {
  // 0 and 0xFFFFFFFF would reach kill() as a group or "every process".
  EXPECT_FALSE(KillProcess(0, false));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(KillProcess(0xFFFFFFFFu, false));
  EXPECT_FALSE(KillProcess(0x80000000u, false));
  EXPECT_FALSE(ProcessAlive(0));
  EXPECT_FALSE(ProcessAlive(0xFFFFFFFFu));
  EXPECT_TRUE(ProcessAlive(GetCurrentProcessId()));
}

TEST(DetachedProcess, RunsInItsOwnSessionWithNullInput) {
  test::ScratchDir dir;
  std::string out = dir.path() + "/report.txt";
  DWORD pid = StartDetachedProcess({Peer(), "report", out}, dir.path());
  ASSERT_NE(pid, 0u);
  std::istringstream report(WaitForFile(out));
  long reported_pid = 0, sid = 0;
  std::string in;
  report >> reported_pid >> sid >> in;
  EXPECT_EQ(reported_pid, static_cast<long>(pid));
  // A session of its own that it does not lead: it can never acquire a
  // controlling terminal.
  EXPECT_NE(sid, static_cast<long>(getsid(0)));
  EXPECT_NE(sid, static_cast<long>(pid));
  EXPECT_EQ(in, "/dev/null");
  EXPECT_TRUE(ProcessAlive(pid));
  ASSERT_TRUE(KillProcess(pid, true));
  EXPECT_TRUE(WaitUntilGone(pid));
}

TEST(ModulePath, NamesTheRunningProgram) {
  std::string path = ModuleFileName();
  EXPECT_EQ(std::filesystem::canonical(path),
            std::filesystem::canonical(test::BinDir() + "/process_test"));
  char buffer[4096];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n), path);
  char small[8];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), path.substr(0, 7));
}

}  // namespace
}  // namespace vandrel::win
