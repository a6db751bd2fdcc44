// The shared rings between real processes: raw peers (peers/chanpeer.cpp)
// that offer bad pages or spoil their rings lose their own connection and
// nothing else, and what a peer put on its ring before it went still
// arrives, in order.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/window.h"
#include "tests/platform/peers/msgpeer_process.h"
#include "tests/platform/peers/msgpeer_protocol.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

using namespace vandrel::test::msgpeer;

constexpr int kWaitMs = 20000;

// Runs chanpeer to its end; its exit code, or -1 when it did not end in
// time (it is killed then).
int RunChanPeer(const std::vector<std::string>& args) {
  std::vector<std::string> argv{test::BinDir() + "/chanpeer"};
  argv.insert(argv.end(), args.begin(), args.end());
  const DWORD pid = StartChildProcess(argv, "");
  if (pid == 0) return -2;
  int code = -1;
  if (!WaitChildProcess(pid, kWaitMs, &code)) {
    KillProcess(pid, true);
    WaitChildProcess(pid, kWaitMs, &code);
    return -1;
  }
  return code;
}

int OpenDescriptorsOf(DWORD pid) {
  int count = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error)) {
    ++count;
  }
  return count;
}

TEST(ChannelPeer, HostilePeersLoseOnlyTheirOwnConnection) {
  test::ScopedRuntimeDir ns;
  MsgPeerProcess owner({"serve", "Ring.Owner"});
  const HWND h = owner.WaitForWindow("Ring.Owner");
  ASSERT_NE(h, 0u);
  // This process is the well-behaved peer: its connection (with its page)
  // is open before the hostile ones come, and stays usable throughout.
  ASSERT_EQ(SendMessageA(h, kEcho, 1, 0), 2);
  const int descriptors = OpenDescriptorsOf(owner.pid());
  ASSERT_GT(descriptors, 0);
  const char* const modes[] = {"unsealed", "write", "slot", "read", "reoffer"};
  WPARAM n = 10;
  for (const char* mode : modes) {
    EXPECT_EQ(RunChanPeer({mode, "Ring.Owner"}), 0) << mode << ": the owner kept the connection";
    EXPECT_EQ(SendMessageA(h, kEcho, n, 1), static_cast<LRESULT>(2 * n + 1)) << mode;
    ++n;
  }
  // A bell that is no eventfd is not rung; the owner wakes that peer through
  // its socket, and the rings work.
  EXPECT_EQ(RunChanPeer({"pipebell", "Ring.Owner"}), 0);
  EXPECT_EQ(SendMessageA(h, kEcho, 3, 1), 7);
  // Everything the hostile peers passed has been closed again.
  EXPECT_EQ(OpenDescriptorsOf(owner.pid()), descriptors);
  EXPECT_EQ(SendMessageA(h, kQuit, 0, 0), 1);
  EXPECT_EQ(owner.Wait(), 0);
}

std::vector<WPARAM> g_posted;

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kPosted) {
    g_posted.push_back(wparam);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Starts chanpeer with args while this thread pumps, until `count` posts
// have arrived (and a little longer, to see that no more come); the posts'
// numbers in the order they came.
std::vector<WPARAM> CollectPosts(const std::vector<std::string>& args, std::size_t count) {
  g_posted.clear();
  std::vector<std::string> argv{test::BinDir() + "/chanpeer"};
  argv.insert(argv.end(), args.begin(), args.end());
  const DWORD pid = StartChildProcess(argv, "");
  EXPECT_NE(pid, 0u);
  if (pid == 0) return {};
  test::PumpUntil([count] { return g_posted.size() >= count; }, kWaitMs);
  int code = -1;
  EXPECT_TRUE(WaitChildProcess(pid, kWaitMs, &code));
  EXPECT_EQ(code, 0);
  test::PumpUntil([] { return false; }, 50);
  return g_posted;
}

std::vector<WPARAM> OneTo(std::size_t n) {
  std::vector<WPARAM> numbers(n);
  for (std::size_t i = 0; i < n; ++i) numbers[i] = static_cast<WPARAM>(i + 1);
  return numbers;
}

TEST(ChannelPeer, PostsOfAPeerThatEndsAtOnceAllArriveInOrder) {
  test::ScopedRuntimeDir ns;
  const HWND h =
      CreateWindowExA(0, "STATIC", "Ring.Sink", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
  // More than a ring holds, so that the poster also waits for room.
  EXPECT_EQ(CollectPosts({"posts", "Ring.Sink", "3000"}, 3000), OneTo(3000));
  // A peer that dies between putting and waking: the end of its connection
  // is the only news, and what its ring holds still counts.
  EXPECT_EQ(CollectPosts({"postdie", "Ring.Sink", "300"}, 300), OneTo(300));
  DestroyWindow(h);
}

}  // namespace
}  // namespace vandrel::win
