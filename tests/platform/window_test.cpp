// Windows, messages, timers and message boxes inside one process (threads
// included); the cross-process cases are in window_peer_test.cpp.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/endpoint.h"
#include "platform/error.h"
#include "platform/window_entries.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

constexpr DWORD kWaitMs = 20000;

HWND NewWindow(const char* name = "") {
  return CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", name, WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                         nullptr, nullptr);
}

// Records what reaches a window procedure.
struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};
thread_local std::vector<Seen> t_seen;

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  t_seen.push_back(Seen{hwnd, msg, wparam, lparam});
  return static_cast<LRESULT>(wparam) + lparam;
}

// A subclass that handles WM_USER + 1 and passes the rest to the procedure
// saved in the window's user data.
LRESULT SubclassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_USER + 1) return 1000;
  auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWL_USERDATA));
  return CallWindowProcA(previous, hwnd, msg, wparam, lparam);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { t_seen.clear(); }
  test::ScopedRuntimeDir ns_;
};

TEST_F(WindowTest, HandlesAreUniqueAndDestroyedWindowsAreGone) {
  std::set<HWND> handles;
  std::vector<HWND> windows;
  for (int i = 0; i < 20; ++i) {
    HWND h = NewWindow();
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(handles.insert(h).second);
    windows.push_back(h);
  }
  // Handles are never handed out twice, even after their window is gone.
  for (HWND h : windows) EXPECT_TRUE(DestroyWindow(h));
  for (int i = 0; i < 5; ++i) {
    HWND h = NewWindow();
    EXPECT_TRUE(handles.insert(h).second);
    DestroyWindow(h);
  }
  HWND gone = windows.front();
  EXPECT_FALSE(IsWindow(gone));
  EXPECT_FALSE(IsWindow(0));
  EXPECT_FALSE(DestroyWindow(gone));
  SetLastError(0);
  EXPECT_EQ(SendMessageA(gone, WM_USER, 1, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(std::filesystem::exists(ns_.path() + "/win/" + std::to_string(gone)));
  EXPECT_EQ(CreateWindowExA(0, "BUTTON", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0u);
}

TEST_F(WindowTest, HandleCounterIsSharedThroughTheNamespace) {
  HWND first = NewWindow();
  ASSERT_NE(first, 0u);
  // Another process would read the same counter file: move it on by hand
  // and the next window continues from there.
  const std::string dir = ns_.path();
  std::uint32_t next = detail::NextNamespaceNumber(dir);
  EXPECT_GT(next, first);
  HWND second = NewWindow();
  EXPECT_EQ(second, next + 1);
  DestroyWindow(first);
  DestroyWindow(second);
}

TEST_F(WindowTest, SubclassingThroughWindowLongs) {
  HWND h = NewWindow();
  ASSERT_NE(h, 0u);
  EXPECT_EQ(GetWindowLongPtrA(h, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  EXPECT_EQ(SendMessageA(h, WM_USER, 5, 6), 0);  // the default procedure answers 0

  EXPECT_EQ(SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc)),
            reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  EXPECT_EQ(SetWindowLongPtrA(h, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&RecordingProc)), 0);
  EXPECT_EQ(SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)),
            reinterpret_cast<LONG_PTR>(&RecordingProc));
  // A send to a window of the calling thread runs its procedure at once.
  EXPECT_EQ(SendMessageA(h, WM_USER + 1, 0, 0), 1000);
  EXPECT_TRUE(t_seen.empty());
  EXPECT_EQ(SendMessageA(h, WM_USER + 2, 7, -3), 4);
  ASSERT_EQ(t_seen.size(), 1u);
  EXPECT_EQ(t_seen[0].hwnd, h);
  EXPECT_EQ(t_seen[0].msg, WM_USER + 2);

  // Unsubclassing puts the saved procedure back.
  SetWindowLongPtrA(h, GWL_WNDPROC, GetWindowLongPtrA(h, GWL_USERDATA));
  EXPECT_EQ(SendMessageA(h, WM_USER + 1, 1, 1), 2);

  EXPECT_EQ(SetWindowLongPtrA(h, GWL_WNDPROC, 0), 0);  // a window always keeps a procedure
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetWindowLongPtrA(h, 12345), 0);
  EXPECT_EQ(GetWindowLongPtrA(h, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&RecordingProc));
  DestroyWindow(h);
  EXPECT_EQ(GetWindowLongPtrA(h, GWL_WNDPROC), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, NamesAreFoundWithoutCaseAndFreedWithTheirWindow) {
  HWND h = NewWindow("Vandrel_Test/Window 1");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(FindWindowA("STATIC", "vandrel_test/window 1"), h);
  EXPECT_EQ(FindWindowA(nullptr, "VANDREL_TEST/WINDOW 1"), h);
  EXPECT_EQ(FindWindowA("BUTTON", "Vandrel_Test/Window 1"), 0u);
  EXPECT_EQ(FindWindowA(nullptr, "Vandrel_Test"), 0u);
  // Names that would be odd file names still work.
  HWND dots = NewWindow("..");
  ASSERT_NE(dots, 0u);
  EXPECT_EQ(FindWindowA(nullptr, ".."), dots);

  SetLastError(0);
  EXPECT_EQ(NewWindow("VANDREL_TEST/WINDOW 1"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(NewWindow(std::string(300, 'x').c_str()), 0u);

  DestroyWindow(h);
  EXPECT_EQ(FindWindowA(nullptr, "Vandrel_Test/Window 1"), 0u);
  HWND again = NewWindow("Vandrel_Test/Window 1");
  EXPECT_NE(again, 0u);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(again, &pid), 0u);
  EXPECT_NE(pid, 0u);
  DestroyWindow(again);
  DestroyWindow(dots);
  EXPECT_EQ(GetWindowThreadProcessId(again, &pid), 0u);
  EXPECT_EQ(pid, 0u);
}

TEST_F(WindowTest, PostedMessagesComeInOrderAndQuitComesLast) {
  HWND h = NewWindow();
  SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
  PostQuitMessage(3);  // the quit flag waits until the queue is empty
  for (WPARAM i = 1; i <= 3; ++i) EXPECT_TRUE(PostMessageA(h, WM_USER + 10, i, 0));
  EXPECT_TRUE(PostMessageA(0, WM_USER + 11, 9, 0));  // a thread message

  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  std::vector<MSG> got;
  while (GetMessageA(&msg, 0, 0, 0)) {
    got.push_back(msg);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_EQ(got.size(), 4u);
  for (WPARAM i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].hwnd, h);
    EXPECT_EQ(got[i].wParam, i + 1);
  }
  EXPECT_EQ(got[3].hwnd, 0u);
  EXPECT_EQ(got[3].message, WM_USER + 11u);
  // Only the window's messages were dispatched to it.
  EXPECT_EQ(t_seen.size(), 3u);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));

  // Filters, and messages of a destroyed window are dropped with it.
  PostMessageA(h, WM_USER + 20, 0, 0);
  PostMessageA(h, WM_USER + 21, 0, 0);
  ASSERT_TRUE(PeekMessageA(&msg, 0, WM_USER + 21, WM_USER + 21, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 21u);
  DestroyWindow(h);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  // A quit posted with PostMessageA also ends GetMessageA.
  PostMessageA(0, WM_QUIT, 5, 0);
  EXPECT_FALSE(GetMessageA(&msg, 0, 0, 0));
  EXPECT_EQ(msg.wParam, 5u);
}

std::atomic<int> g_thread_timer_calls{0};
void CountingTimerProc(HWND, UINT msg, UINT_PTR, DWORD) {
  if (msg == WM_TIMER) ++g_thread_timer_calls;
}

// Runs the loop until `count` WM_TIMER messages for (hwnd, id) were seen;
// returns their times. Gives up after kWaitMs.
std::vector<DWORD> CollectTimerTicks(HWND hwnd, UINT_PTR id, std::size_t count) {
  std::vector<DWORD> times;
  const DWORD start = GetTickCount();
  MSG msg;
  while (times.size() < count && GetTickCount() - start < kWaitMs) {
    if (!GetMessageA(&msg, 0, 0, 0)) break;
    if (msg.message == WM_TIMER && msg.hwnd == hwnd && msg.wParam == id) times.push_back(msg.time);
    DispatchMessageA(&msg);
  }
  return times;
}

TEST_F(WindowTest, WindowTimersTickNoFasterThanTheirPeriod) {
  HWND h = NewWindow();
  SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
  ASSERT_NE(SetTimer(h, 7, 20, nullptr), 0u);
  std::vector<DWORD> ticks = CollectTimerTicks(h, 7, 4);
  ASSERT_EQ(ticks.size(), 4u);
  for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_GE(ticks[i] - ticks[i - 1], 20u);
  // Dispatched to the window with the timer id.
  ASSERT_FALSE(t_seen.empty());
  EXPECT_EQ(t_seen.back().msg, WM_TIMER);
  EXPECT_EQ(t_seen.back().wparam, 7u);

  // A timer that was due many times while nobody pumped yields one message.
  const DWORD busy = GetTickCount();
  while (GetTickCount() - busy < 100) {
  }
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));

  EXPECT_TRUE(KillTimer(h, 7));
  EXPECT_FALSE(KillTimer(h, 7));
  EXPECT_EQ(SetTimer(0xFFFFFF0u, 1, 10, nullptr), 0u);  // not a window of this thread
  // Destroying the window kills its timers.
  SetTimer(h, 8, 10, nullptr);
  DestroyWindow(h);
  EXPECT_FALSE(KillTimer(h, 8));
}

TEST_F(WindowTest, ThreadTimerCallbackRunsFromTheMessageLoop) {
  g_thread_timer_calls = 0;
  UINT_PTR a = SetTimer(0, 0, 10, &CountingTimerProc);
  UINT_PTR b = SetTimer(0, 0, 10, &CountingTimerProc);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(KillTimer(0, b));
  std::vector<DWORD> ticks = CollectTimerTicks(0, a, 3);
  EXPECT_EQ(ticks.size(), 3u);
  EXPECT_EQ(g_thread_timer_calls, 3);
  // Setting it again keeps its id.
  EXPECT_EQ(SetTimer(0, a, 15, &CountingTimerProc), a);
  // A timer killed after its message was taken runs nothing.
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
  ASSERT_EQ(msg.message, WM_TIMER);
  KillTimer(0, a);
  DispatchMessageA(&msg);
  EXPECT_EQ(g_thread_timer_calls, 3);
}

TEST_F(WindowTest, MessageBoxesGoToTheLogAndTheHook) {
  test::ScratchDir dir;
  const std::string log = dir.path() + "/service.log";
  SetLogFile(log);
  std::vector<std::string> boxes;
  SetMessageBoxHook(
      [&](HWND owner, const std::string& text, const std::string& caption, UINT type) {
        boxes.push_back(std::to_string(owner) + "|" + caption + "|" + text + "|" +
                        std::to_string(type));
      });
  EXPECT_EQ(MessageBoxA(42, "Something failed", "Vandrel", MB_ICONERROR), IDOK);
  EXPECT_EQ(MessageBoxA(0, "second", nullptr, MB_OK), IDOK);
  SetMessageBoxHook(nullptr);
  EXPECT_EQ(MessageBoxA(0, "unhooked", "Vandrel", MB_OK), IDOK);
  SetLogFile("");
  EXPECT_EQ(boxes,
            (std::vector<std::string>{"42|Vandrel|Something failed|16", "0|Error|second|0"}));
  std::ifstream in(log);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "Vandrel: Something failed\nError: second\nVandrel: unhooked\n");
  EXPECT_FALSE(ShowWindow(42, SW_SHOWNORMAL));
}

// Another thread of the same process owns a window; sends cross threads
// through its endpoint, and its windows go when it ends.
TEST_F(WindowTest, WindowsOfAnotherThreadAnswerAndVanishWithIt) {
  std::atomic<HWND> other{0};
  std::thread owner([&] {
    HWND h = NewWindow("Other.Thread");
    SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
    other = h;
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0)) DispatchMessageA(&msg);
    // Leaves without destroying its window.
  });
  const DWORD start = GetTickCount();
  while (other == 0 && GetTickCount() - start < kWaitMs) Sleep(1);
  ASSERT_NE(other.load(), 0u);
  HWND h = other;
  EXPECT_EQ(SendMessageA(h, WM_USER, 30, 12), 42);
  EXPECT_EQ(SetWindowLongPtrA(h, GWL_USERDATA, 1), 0);  // not this thread's window
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(h, &pid), 0u);
  EXPECT_TRUE(PostMessageA(h, WM_QUIT, 0, 0));
  owner.join();
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(FindWindowA(nullptr, "Other.Thread"), 0u);
  EXPECT_EQ(SendMessageA(h, WM_USER, 1, 1), 0);
  HWND reused = NewWindow("Other.Thread");
  EXPECT_NE(reused, 0u);
  DestroyWindow(reused);
}

LRESULT ThrowingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_USER + 3) throw std::runtime_error("handler failed");
  return RecordingProc(hwnd, msg, wparam, lparam);
}

// A procedure that throws while answering another thread's send: the sender
// gets 0 instead of hanging, and the failure surfaces in the owner's loop.
TEST_F(WindowTest, ThrowingProcedureStillAnswersTheSender) {
  std::atomic<HWND> other{0};
  std::atomic<int> failures{0};
  std::thread owner([&] {
    HWND h = NewWindow();
    SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&ThrowingProc));
    other = h;
    MSG msg;
    for (;;) {
      try {
        if (!GetMessageA(&msg, 0, 0, 0)) break;
        DispatchMessageA(&msg);
      } catch (const std::runtime_error&) {
        ++failures;
      }
    }
    DestroyWindow(h);
  });
  const DWORD start = GetTickCount();
  while (other == 0 && GetTickCount() - start < kWaitMs) Sleep(1);
  ASSERT_NE(other.load(), 0u);
  EXPECT_EQ(SendMessageA(other, WM_USER + 3, 1, 1), 0);
  EXPECT_EQ(SendMessageA(other, WM_USER, 1, 1), 2);
  EXPECT_EQ(failures, 1);
  PostMessageA(other, WM_QUIT, 0, 0);
  owner.join();
}

// Two threads that flood each other with posted messages before either
// pumps: a full buffer never deadlocks them and nothing is lost or reordered,
// even when one of them stops pumping as soon as it has all of its own (its
// posts must not wait in its own process for it to pump again).
TEST_F(WindowTest, PostFloodsBothWaysNeitherDeadlockNorReorder) {
  constexpr WPARAM kCount = 30000;  // more than a connection's buffer holds
  constexpr UINT kFlood = WM_USER + 40;
  std::atomic<HWND> a{0};
  std::atomic<HWND> b{0};
  // Posts kCount messages to the other window, then collects kCount.
  auto run = [&](std::atomic<HWND>& mine, std::atomic<HWND>& theirs) {
    mine = NewWindow();
    const DWORD start = GetTickCount();
    while (theirs == 0 && GetTickCount() - start < kWaitMs) Sleep(1);
    bool in_order = true;
    for (WPARAM i = 0; i < kCount; ++i) {
      if (!PostMessageA(theirs, kFlood, i, 0)) in_order = false;
    }
    WPARAM expected = 0;
    MSG msg;
    const UINT_PTR guard = SetTimer(0, 0, kWaitMs, nullptr);
    while (expected < kCount && GetMessageA(&msg, 0, 0, 0)) {
      if (msg.message == WM_TIMER && msg.hwnd == 0) break;
      if (msg.message != kFlood) continue;
      if (msg.wParam != expected || msg.hwnd != mine) in_order = false;
      ++expected;
    }
    KillTimer(0, guard);
    return in_order && expected == kCount;
  };
  std::atomic<bool> other_ok{false};
  std::thread other([&] {
    other_ok = run(b, a);
    DestroyWindow(b);
  });
  const bool ok = run(a, b);
  other.join();
  EXPECT_TRUE(ok);
  EXPECT_TRUE(other_ok);
  DestroyWindow(a);
}

// Collects posted kFlood messages for `mine` until `count` arrived or the
// time runs out; true when they came numbered 0, 1, 2... in order.
// A slow reader rests a millisecond every 50 messages.
bool CollectFlood(HWND mine, UINT flood, WPARAM count, WPARAM* got, bool slow = false) {
  bool in_order = true;
  WPARAM expected = 0;
  MSG msg;
  const UINT_PTR guard = SetTimer(0, 0, kWaitMs, nullptr);
  while (expected < count && GetMessageA(&msg, 0, 0, 0)) {
    if (msg.message == WM_TIMER && msg.hwnd == 0) break;
    if (msg.message != flood) continue;
    if (msg.wParam != expected || msg.hwnd != mine) in_order = false;
    ++expected;
    if (slow && expected % 50 == 0) Sleep(1);
  }
  KillTimer(0, guard);
  *got = expected;
  return in_order;
}

// A thread that posts faster than its peer reads and then stops pumping (it
// waits for something else) has handed every post over: none waits in its
// process for it to pump again.
TEST_F(WindowTest, PostsArriveAfterTheSenderStopsPumping) {
  constexpr WPARAM kCount = 20000;
  constexpr UINT kFlood = WM_USER + 41;
  HWND mine = NewWindow();
  std::atomic<bool> collected{false};
  std::atomic<bool> posted_all{true};
  std::thread sender([&] {
    for (WPARAM i = 0; i < kCount; ++i) {
      if (!PostMessageA(mine, kFlood, i, 0)) posted_all = false;
    }
    // Waits without pumping until the reader has everything.
    const DWORD start = GetTickCount();
    while (!collected && GetTickCount() - start < 2 * kWaitMs) Sleep(1);
  });
  WPARAM got = 0;
  EXPECT_TRUE(CollectFlood(mine, kFlood, kCount, &got, /*slow=*/true));
  EXPECT_EQ(got, kCount);
  collected = true;
  sender.join();
  EXPECT_TRUE(posted_all);
  DestroyWindow(mine);
}

// A reader that stops reading: the sender waits for it once (5 s), then
// queues its posts without waiting, up to a bound beyond which posts fail;
// what was accepted arrives in order when the reader reads again.
TEST_F(WindowTest, PostsToAStoppedReaderAreBounded) {
  constexpr WPARAM kTries = 100000;  // beyond the bound of waiting posts and the socket
  constexpr UINT kFlood = WM_USER + 42;
  HWND mine = NewWindow();
  std::atomic<WPARAM> accepted{0};
  std::atomic<bool> failed_in_the_middle{false};
  std::atomic<DWORD> longest_post{0};
  std::atomic<bool> read_now{false};
  std::atomic<bool> collected{false};
  std::thread sender([&] {
    bool failing = false;
    for (WPARAM i = 0; i < kTries; ++i) {
      const DWORD before = GetTickCount();
      const BOOL ok = PostMessageA(mine, kFlood, accepted, 0);
      longest_post = std::max<DWORD>(longest_post, GetTickCount() - before);
      if (ok) {
        if (failing) failed_in_the_middle = true;  // a hole in the sequence
        ++accepted;
      } else {
        failing = true;
      }
    }
    read_now = true;
    // Pumps so that its queued posts reach the reader.
    MSG msg;
    while (!collected) {
      if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      Sleep(1);
    }
  });
  const DWORD start = GetTickCount();
  while (!read_now && GetTickCount() - start < 3 * kWaitMs) Sleep(10);
  ASSERT_TRUE(read_now);
  EXPECT_LT(accepted.load(), kTries);
  EXPECT_FALSE(failed_in_the_middle);
  EXPECT_GE(longest_post.load(), 4000u);  // the one wait for the reader
  EXPECT_LT(longest_post.load(), 15000u);
  WPARAM got = 0;
  EXPECT_TRUE(CollectFlood(mine, kFlood, accepted, &got));
  EXPECT_EQ(got, accepted.load());
  collected = true;
  sender.join();
  DestroyWindow(mine);
}

// A connection that sends junk is dropped; the endpoint's owner goes on.
TEST_F(WindowTest, BrokenFramesDropOnlyTheirConnection) {
  HWND h = NewWindow();
  SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
  auto owner = detail::ReadWindowEntry(ns_.path(), h);
  ASSERT_TRUE(owner.has_value());
  std::atomic<bool> done{false};
  std::atomic<int> outcome{-1};
  std::thread intruder([&] {
    detail::UniqueFd fd;
    ASSERT_EQ(detail::ConnectTo(detail::EndpointPath(ns_.path(), owner->endpoint), &fd),
              detail::ConnectOutcome::kConnected);
    // A message for a window that does not exist is answered "no window".
    detail::Frame ask{
        detail::FrameKind::kSend, detail::ReplyStatus::kHandled, 5, h + 1000, WM_USER, 0, 0};
    ASSERT_EQ(detail::SendFrame(fd.get(), ask), detail::IoOutcome::kDone);
    detail::Frame answer;
    detail::WaitEntry e{fd.get(), false};
    ASSERT_TRUE(detail::WaitForAny(&e, 1, kWaitMs));
    ASSERT_EQ(detail::ReceiveFrame(fd.get(), &answer), detail::IoOutcome::kDone);
    EXPECT_EQ(answer.kind, detail::FrameKind::kReply);
    EXPECT_EQ(answer.status, detail::ReplyStatus::kNoWindow);
    EXPECT_EQ(answer.sequence, 5u);
    // A reply where a request belongs: the connection is closed.
    detail::Frame wrong{detail::FrameKind::kReply, detail::ReplyStatus::kHandled, 1, h, 0, 0, 0};
    ASSERT_EQ(detail::SendFrame(fd.get(), wrong), detail::IoOutcome::kDone);
    ASSERT_TRUE(detail::WaitForAny(&e, 1, kWaitMs));
    outcome = static_cast<int>(detail::ReceiveFrame(fd.get(), &answer));
    done = true;
  });
  MSG msg;
  const DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < kWaitMs) {
    if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(1);
  }
  intruder.join();
  EXPECT_EQ(outcome, static_cast<int>(detail::IoOutcome::kClosed));
  EXPECT_EQ(SendMessageA(h, WM_USER, 2, 3), 5);
  DestroyWindow(h);
}

}  // namespace
}  // namespace vandrel::win
