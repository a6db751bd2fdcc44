// Spin-then-block waits: the bound's setting, the adaptive policy, and
// exchanges between this process and msgpeer with spinning on both sides
// (bound 0, the default, the largest) behaving exactly as without it.
#include "platform/spin_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/platform/peers/msgpeer_process.h"
#include "tests/platform/peers/msgpeer_protocol.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

using namespace vandrel::test::msgpeer;
using detail::SpinWait;

constexpr int kWaitMs = 20000;

// Restores the process's bound when a test changed it.
class ScopedSpinLimit {
 public:
  explicit ScopedSpinLimit(int us) : previous_(detail::SpinLimitUs()) {
    detail::SetSpinLimitUs(us);
  }
  ~ScopedSpinLimit() { detail::SetSpinLimitUs(previous_); }

 private:
  int previous_;
};

TEST(SpinSettingTest, WholeNumbersAreTakenAndCutToTheLargestBound) {
  EXPECT_EQ(detail::ParseSpinSetting("0"), 0);
  EXPECT_EQ(detail::ParseSpinSetting("35"), 35);
  EXPECT_EQ(detail::ParseSpinSetting("1000"), detail::kMaxSpinUs);
  EXPECT_EQ(detail::ParseSpinSetting("1001"), detail::kMaxSpinUs);
  EXPECT_EQ(detail::ParseSpinSetting("99999999999999999999999"), detail::kMaxSpinUs);
  for (const char* bad : {"", "-5", "+5", " 5", "5 ", "5us", "abc", "0x10"}) {
    EXPECT_EQ(detail::ParseSpinSetting(bad), std::nullopt) << '"' << bad << '"';
  }
  EXPECT_EQ(detail::ParseSpinSetting(nullptr), std::nullopt);
  ScopedSpinLimit limit(-7);
  EXPECT_EQ(detail::SpinLimitUs(), 0);
  detail::SetSpinLimitUs(1 << 30);
  EXPECT_EQ(detail::SpinLimitUs(), detail::kMaxSpinUs);
}

TEST(SpinPolicyTest, MissesBackOffAndAShortWaitOrAHitStartsSpinningAgain) {
  ScopedSpinLimit limit(40);
  SpinWait spin;
  // Two misses still spin; the third starts a run of one skipped wait, and
  // every further miss doubles the run.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(spin.NextSpinUs(), 40);
    spin.Miss();
  }
  EXPECT_EQ(spin.skipping(), 0u);
  ASSERT_EQ(spin.NextSpinUs(), 40);
  spin.Miss();
  EXPECT_EQ(spin.skipping(), 1u);
  EXPECT_EQ(spin.NextSpinUs(), 0);
  spin.Blocked(5000);  // too long for a spin to have caught it
  for (unsigned run = 2; run <= 512; run *= 2) {
    ASSERT_EQ(spin.NextSpinUs(), 40);
    spin.Miss();
    EXPECT_EQ(spin.skipping(), std::min(run, 256u));
    while (spin.skipping() > 0) ASSERT_EQ(spin.NextSpinUs(), 0);
  }
  // A wait that blocked but ended within the bound: spinning again, and
  // the backoff starts from scratch.
  ASSERT_EQ(spin.NextSpinUs(), 40);
  spin.Miss();
  EXPECT_EQ(spin.NextSpinUs(), 0);
  spin.Blocked(12);
  EXPECT_EQ(spin.skipping(), 0u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(spin.NextSpinUs(), 40);
    spin.Miss();
  }
  EXPECT_EQ(spin.skipping(), 0u);
  // A hit clears the misses counted so far.
  spin.Hit();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(spin.NextSpinUs(), 40);
    spin.Miss();
  }
  EXPECT_EQ(spin.skipping(), 0u);
  // A spin that lost the processor: a short run blocks at once, and short
  // waits during it (a busy machine) do not end it early.
  spin.Contended();
  EXPECT_EQ(spin.skipping(), 8u);
  EXPECT_EQ(spin.NextSpinUs(), 0);
  spin.Blocked(3);
  EXPECT_EQ(spin.skipping(), 7u);
  while (spin.skipping() > 0) ASSERT_EQ(spin.NextSpinUs(), 0);
  EXPECT_EQ(spin.NextSpinUs(), 40);
  spin.Blocked(3);  // after the run, a short wait counts again
  EXPECT_EQ(spin.skipping(), 0u);
  // Losses one after another double the run up to the longest; hits
  // shorten the next one again.
  for (unsigned run = 16; run <= 512; run *= 2) {
    ASSERT_EQ(spin.NextSpinUs(), 40);
    spin.Contended();
    EXPECT_EQ(spin.skipping(), std::min(run, 256u));
    while (spin.skipping() > 0) ASSERT_EQ(spin.NextSpinUs(), 0);
  }
  ASSERT_EQ(spin.NextSpinUs(), 40);
  for (int i = 0; i < 3; ++i) spin.Hit();
  spin.Contended();
  EXPECT_EQ(spin.skipping(), 64u);
  while (spin.skipping() > 0) ASSERT_EQ(spin.NextSpinUs(), 0);
  for (int i = 0; i < 10; ++i) spin.Hit();
  spin.Contended();
  EXPECT_EQ(spin.skipping(), 8u);
  // Bound 0: never.
  detail::SetSpinLimitUs(0);
  SpinWait off;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(off.NextSpinUs(), 0);
}

// A msgpeer process with the bound in its environment.
class SpinningPeer : public test::msgpeer::MsgPeerProcess {
 public:
  SpinningPeer(int spin_us, const std::vector<std::string>& args)
      : MsgPeerProcess(args, "VANDREL_SPIN_US", std::to_string(spin_us)) {}
};

std::vector<MSG> g_posted;
HWND g_peer = 0;

LRESULT TestProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kEcho:
      return static_cast<LRESULT>(wparam * 2) + lparam;
    case kNest: {
      if (wparam == 0) return 1;
      LRESULT r =
          SendMessageA(static_cast<HWND>(lparam), kNest, wparam - 1, static_cast<LPARAM>(hwnd));
      return r == 0 ? -1000 : r + 1;
    }
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

class SpinExchangeTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, 0u);
    SetWindowLongPtrA(window_, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&TestProc));
    g_posted.clear();
  }
  void TearDown() override { DestroyWindow(window_); }

  // Runs the loop until `count` kPosted messages came or the guard timer
  // fired; false on the guard.
  bool PumpPosted(std::size_t count) {
    const UINT_PTR guard = SetTimer(0, 0, kWaitMs, nullptr);
    MSG msg;
    bool ok = g_posted.size() >= count;
    while (!ok && GetMessageA(&msg, 0, 0, 0)) {
      if (msg.hwnd == 0 && msg.message == WM_TIMER && msg.wParam == guard) break;
      if (msg.message == kPosted) g_posted.push_back(msg);
      DispatchMessageA(&msg);
      ok = g_posted.size() >= count;
    }
    KillTimer(0, guard);
    return ok;
  }

  ScopedSpinLimit limit_{GetParam()};
  test::ScopedRuntimeDir ns_;
  test::ScratchDir scratch_;
  HWND window_ = 0;
};

TEST_P(SpinExchangeTest, RepliesAndPostsKeepTheirOrderBothWays) {
  SpinningPeer peer(GetParam(), {"serve", "Spin.Echo"});
  g_peer = peer.WaitForWindow("Spin.Echo");
  ASSERT_NE(g_peer, 0u);
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(SendMessageA(g_peer, kEcho, static_cast<WPARAM>(i), i % 7), i * 2 + i % 7);
  }
  // Sends running both ways inside each other's waits.
  EXPECT_EQ(SendMessageA(g_peer, kNest, 15, static_cast<LPARAM>(window_)), 16);
  // Posts answered by posts, taken in the order they were made.
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(
        PostMessageA(g_peer, kPostBack, static_cast<WPARAM>(i), static_cast<LPARAM>(window_)));
  }
  ASSERT_TRUE(PumpPosted(300));
  for (std::size_t i = 0; i < g_posted.size(); ++i) {
    ASSERT_EQ(g_posted[i].wParam, i);
    EXPECT_EQ(g_posted[i].lParam, static_cast<LPARAM>(g_peer));
  }
  EXPECT_EQ(SendMessageA(g_peer, kQuit, 4, 0), 1);
  EXPECT_EQ(peer.Wait(), 4);
}

TEST_P(SpinExchangeTest, ASpinningClientIsServedByThisThreadsLoop) {
  HWND server =
      CreateWindowExA(0, "STATIC", "Spin.Server", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(server, 0u);
  SetWindowLongPtrA(server, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&TestProc));
  SpinningPeer client(GetParam(), {"client", "Spin.Server", "1500"});
  // The client checks every answer and posts its count when done.
  ASSERT_TRUE(PumpPosted(1));
  EXPECT_EQ(g_posted[0].wParam, 1500u);
  EXPECT_EQ(client.Wait(), 0);
  DestroyWindow(server);
}

TEST_P(SpinExchangeTest, TimeoutsAndTimersAreHonoured) {
  const std::string marker = scratch_.path() + "/marker";
  SpinningPeer peer(GetParam(), {"serve", "Spin.Hung", marker});
  HWND h = peer.WaitForWindow("Spin.Hung");
  ASSERT_NE(h, 0u);
  // A peer that never answers: the wait ends no sooner than asked, with
  // the time-out's error, however the wait was spent.
  DWORD result = 12345;
  SetLastError(0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(SendMessageTimeoutA(h, kBlock, 0, 0, SMTO_NORMAL, 150, &result), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 12345u);
  // Timed sends shorter than the spin bound also end with the time-out.
  for (int i = 0; i < 5; ++i) {
    SetLastError(0);
    EXPECT_EQ(SendMessageTimeoutA(h, kEcho, 1, 1, SMTO_NORMAL, 1, &result), 0);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  }
  KillProcess(peer.pid(), true);
  EXPECT_EQ(peer.Wait(), 128 + 9);

  // Nothing waiting: a look without waiting finds nothing, at once.
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  // A timer of this thread comes when due, and comes again.
  const UINT_PTR timer = SetTimer(0, 0, 20, nullptr);
  for (int ticks = 0; ticks < 3; ++ticks) {
    const auto waited = std::chrono::steady_clock::now();
    ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, timer);
    EXPECT_GE(std::chrono::steady_clock::now() - waited, std::chrono::milliseconds(15));
  }
  KillTimer(0, timer);
}

INSTANTIATE_TEST_SUITE_P(Bounds, SpinExchangeTest,
                         ::testing::Values(0, detail::kDefaultSpinUs, detail::kMaxSpinUs),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Spin" + std::to_string(info.param) + "us";
                         });

}  // namespace
}  // namespace vandrel::win
