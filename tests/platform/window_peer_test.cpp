// Window messages between two real processes: this test process and the
// msgpeer program (peers/msgpeer.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
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

constexpr int kWaitMs = 20000;

using Peer = MsgPeerProcess;

// State of this process's test window.
std::string g_marker;
HWND g_peer = 0;
std::vector<MSG> g_posted;

// The test side of msgpeer_protocol.h.
LRESULT TestWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kNest: {
      if (wparam == 0) return 1;
      LRESULT r =
          SendMessageA(static_cast<HWND>(lparam), kNest, wparam - 1, static_cast<LPARAM>(hwnd));
      return r == 0 ? -1000 : r + 1;
    }
    case kEcho:
      return static_cast<LRESULT>(wparam * 2) + lparam;
    case kKick:
      // The peer's main thread waits, inside the outer send, for this file;
      // the inner send below reaches it only after it answered the outer one.
      std::ofstream(g_marker) << "kick\n";
      return SendMessageA(g_peer, kEcho, 100, 0);
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

class WindowPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, 0u);
    SetWindowLongPtrA(window_, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&TestWindowProc));
    g_posted.clear();
    g_marker = scratch_.path() + "/marker";
  }
  void TearDown() override { DestroyWindow(window_); }

  // Runs this thread's message loop until `done` holds for a posted message
  // (which is kept in g_posted) or the time is up. False on time-out.
  bool PumpUntil(const std::function<bool()>& done) {
    const UINT_PTR guard = SetTimer(0, 0, kWaitMs, nullptr);
    MSG msg;
    bool ok = false;
    while (!ok && GetMessageA(&msg, 0, 0, 0)) {
      if (msg.hwnd == 0 && msg.message == WM_TIMER && msg.wParam == guard) break;
      if (msg.message == kPosted) g_posted.push_back(msg);
      DispatchMessageA(&msg);
      ok = done();
    }
    KillTimer(0, guard);
    return ok;
  }
  bool WinEntryExists(HWND h) const {
    return std::filesystem::is_symlink(ns_.path() + "/win/" + std::to_string(h));
  }

  test::ScopedRuntimeDir ns_;
  test::ScratchDir scratch_;
  HWND window_ = 0;
};

TEST_F(WindowPeerTest, RoundTripReachesThePeerAndNamesItsOwner) {
  Peer peer({"serve", "Peer.Echo"});
  HWND h = peer.WaitForWindow("Peer.Echo");
  ASSERT_NE(h, 0u);
  EXPECT_NE(h, window_);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(SendMessageA(h, kEcho, 20, 2), 42);
  EXPECT_EQ(SendMessageA(h, kEcho, 0x7FFFFFFF, -5), static_cast<LRESULT>(0xFFFFFFFEu) - 5);
  EXPECT_EQ(SendMessageA(h, kPid, 0, 0), static_cast<LRESULT>(peer.pid()));
  // An unhandled message reaches the default procedure behind the subclass.
  EXPECT_EQ(SendMessageA(h, WM_USER + 200, 1, 1), 0);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(h, &pid), 0u);
  EXPECT_EQ(pid, peer.pid());

  EXPECT_EQ(SendMessageA(h, kQuit, 9, 0), 1);
  EXPECT_EQ(peer.Wait(), 9);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(FindWindowA("STATIC", "Peer.Echo"), 0u);
  EXPECT_EQ(SendMessageA(h, kEcho, 1, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowPeerTest, NestedExchangesRunBothWays) {
  Peer peer({"serve", "Peer.Nest"});
  g_peer = peer.WaitForWindow("Peer.Nest");
  ASSERT_NE(g_peer, 0u);
  // This side starts: ten sends alternate between the processes, each one
  // handled while the sender waits for its own answer.
  EXPECT_EQ(SendMessageA(g_peer, kNest, 9, static_cast<LPARAM>(window_)), 10);
  // The peer starts, while this thread waits inside its own send.
  EXPECT_EQ(SendMessageA(g_peer, kStartNest, 5, static_cast<LPARAM>(window_)), 1);
  ASSERT_TRUE(PumpUntil([] { return !g_posted.empty(); }));
  EXPECT_EQ(g_posted.back().wParam, 6u);
  // The peer starts while this thread sits in GetMessageA.
  g_posted.clear();
  ASSERT_TRUE(PostMessageA(g_peer, kStartNest, 7, static_cast<LPARAM>(window_)));
  ASSERT_TRUE(PumpUntil([] { return !g_posted.empty(); }));
  EXPECT_EQ(g_posted.back().wParam, 8u);
  EXPECT_EQ(g_posted.back().lParam, static_cast<LPARAM>(g_peer));
}

TEST_F(WindowPeerTest, OuterAnswerArrivingDuringAnInnerSendIsKeptForIt) {
  Peer peer({"serve", "Peer.Order", g_marker});
  g_peer = peer.WaitForWindow("Peer.Order");
  ASSERT_NE(g_peer, 0u);
  // The peer answers the outer send while this thread waits for the answer
  // of the inner one (sent from the kKick handler on the same connection).
  EXPECT_EQ(SendMessageA(g_peer, kOuterWait, 0, static_cast<LPARAM>(window_)), 7);
  EXPECT_EQ(SendMessageA(g_peer, kEcho, 3, 0), 6);
  EXPECT_EQ(SendMessageA(g_peer, kQuit, 0, 0), 1);
  EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(WindowPeerTest, KilledPeerFailsTheNextSendAndItsEntriesGo) {
  Peer used({"serve", "Peer.Used"});
  Peer fresh({"serve", "Peer.Fresh"});
  HWND used_h = used.WaitForWindow("Peer.Used");
  HWND fresh_h = fresh.WaitForWindow("Peer.Fresh");
  ASSERT_NE(used_h, 0u);
  ASSERT_NE(fresh_h, 0u);
  EXPECT_EQ(SendMessageA(used_h, kEcho, 1, 0), 2);  // keeps a connection to it

  used.Kill();
  fresh.Kill();
  // Through the kept connection and through a new one alike.
  SetLastError(0);
  EXPECT_EQ(SendMessageA(used_h, kEcho, 1, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  SetLastError(0);
  EXPECT_EQ(SendMessageA(fresh_h, kEcho, 1, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(WinEntryExists(used_h));
  EXPECT_FALSE(WinEntryExists(fresh_h));
  EXPECT_FALSE(IsWindow(used_h));
  EXPECT_FALSE(PostMessageA(fresh_h, kEcho, 0, 0));
  EXPECT_EQ(FindWindowA(nullptr, "Peer.Used"), 0u);
  EXPECT_FALSE(std::filesystem::exists(ns_.path() + "/name/peer.used"));
  // This thread's own window is untouched by the failures.
  EXPECT_EQ(SendMessageA(window_, kEcho, 4, 1), 9);
}

TEST_F(WindowPeerTest, PeerKilledWhileHandlingFailsTheWaitingSend) {
  Peer peer({"serve", "Peer.Block", g_marker});
  HWND h = peer.WaitForWindow("Peer.Block");
  ASSERT_NE(h, 0u);
  std::thread killer([&] {
    const DWORD start = GetTickCount();
    while (!std::filesystem::exists(g_marker) && GetTickCount() - start < kWaitMs) Sleep(1);
    KillProcess(peer.pid(), true);
  });
  SetLastError(0);
  EXPECT_EQ(SendMessageA(h, kBlock, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  killer.join();
  EXPECT_EQ(peer.Wait(), 128 + 9);
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(WindowPeerTest, TimedSendGivesUpOnAHungPeerAndDropsItsLateReply) {
  Peer peer({"serve", "Peer.Hung", g_marker});
  HWND h = peer.WaitForWindow("Peer.Hung");
  ASSERT_NE(h, 0u);
  DWORD result = 12345;
  // A live peer that answers in time.
  ASSERT_NE(SendMessageTimeoutA(h, kEcho, 20, 1, SMTO_ABORTIFHUNG, kWaitMs, &result), 0);
  EXPECT_EQ(result, 41u);
  // A peer that never answers: the wait ends, the peer stays a window.
  result = 12345;
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, kBlock, 0, 0, SMTO_ABORTIFHUNG, 200, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 12345u);
  EXPECT_TRUE(std::filesystem::exists(g_marker));
  KillProcess(peer.pid(), true);
  EXPECT_EQ(peer.Wait(), 128 + 9);
  // A dead peer: no wait at all.
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, kEcho, 1, 1, SMTO_ABORTIFHUNG, kWaitMs, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowPeerTest, WindowNamesAreUniqueUntilTheirOwnerDies) {
  HWND mine =
      CreateWindowExA(0, "STATIC", "Unique.Name", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(mine, 0u);
  // Names compare without case, across processes.
  Peer second({"serve", "UNIQUE.name"});
  EXPECT_EQ(second.Wait(), kExitNameTaken);
  EXPECT_EQ(FindWindowA("static", "unique.NAME"), mine);

  Peer holder({"serve", "Held"});
  HWND held = holder.WaitForWindow("Held");
  ASSERT_NE(held, 0u);
  SetLastError(0);
  EXPECT_EQ(CreateWindowExA(0, "STATIC", "Held", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  // A name left behind by a killed owner can be taken again.
  holder.Kill();
  HWND reclaimed =
      CreateWindowExA(0, "STATIC", "Held", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(reclaimed, 0u);
  EXPECT_NE(reclaimed, held);
  EXPECT_EQ(FindWindowA(nullptr, "Held"), reclaimed);
  // ... and the peer that comes next is refused again.
  Peer late({"serve", "Held"});
  EXPECT_EQ(late.Wait(), kExitNameTaken);
  DestroyWindow(reclaimed);
  DestroyWindow(mine);
}

TEST_F(WindowPeerTest, PostedMessagesArriveInOrderAndQuitEndsTheLoop) {
  Peer peer({"serve", "Peer.Post"});
  HWND h = peer.WaitForWindow("Peer.Post");
  ASSERT_NE(h, 0u);
  for (WPARAM i = 1; i <= 5; ++i) {
    ASSERT_TRUE(PostMessageA(h, kPostBack, i, static_cast<LPARAM>(window_)));
  }
  ASSERT_TRUE(PumpUntil([] { return g_posted.size() == 5; }));
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(g_posted[i].wParam, i + 1);
    EXPECT_EQ(g_posted[i].hwnd, window_);
    EXPECT_EQ(g_posted[i].lParam, static_cast<LPARAM>(h));
  }
  ASSERT_TRUE(PostMessageA(h, kQuit, 4, 0));
  EXPECT_EQ(peer.Wait(), 4);
}

TEST_F(WindowPeerTest, ManyClientsAreServedWhileTheOwnerPumps) {
  HWND hub = CreateWindowExA(0, "STATIC", "Hub", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(hub, 0u);
  SetWindowLongPtrA(hub, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&TestWindowProc));
  constexpr int kClients = 4;
  std::vector<std::unique_ptr<Peer>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<Peer>(std::vector<std::string>{"client", "Hub", "300"}));
  }
  ASSERT_TRUE(PumpUntil([] { return g_posted.size() == kClients; }));
  for (const MSG& m : g_posted) EXPECT_EQ(m.wParam, 300u);
  for (auto& c : clients) EXPECT_EQ(c->Wait(), 0);
  DestroyWindow(hub);
}

// Processes that start together in a fresh namespace (no handle counter yet)
// and create windows at the same time never get the same handle.
TEST(WindowHandles, AreUniqueAcrossProcessesCreatingAtOnce) {
  test::ScopedRuntimeDir ns;
  test::ScratchDir out;
  constexpr int kPeers = 4;
  constexpr int kWindows = 200;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.push_back(std::make_unique<Peer>(std::vector<std::string>{
        "windows", std::to_string(kWindows), out.path() + "/" + std::to_string(i)}));
  }
  std::set<HWND> seen;
  for (int i = 0; i < kPeers; ++i) {
    ASSERT_EQ(peers[static_cast<std::size_t>(i)]->Wait(), 0);
    std::ifstream in(out.path() + "/" + std::to_string(i));
    HWND h;
    int count = 0;
    while (in >> h) {
      EXPECT_NE(h, 0u);
      EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " handed out twice";
      ++count;
    }
    EXPECT_EQ(count, kWindows);
  }
  // The peers destroyed their windows: no entry is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(ns.path() + "/win"));
}

}  // namespace
}  // namespace vandrel::win
