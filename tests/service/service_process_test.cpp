// The vandrel-service program as a real process: its idle end, "/stay",
// one service per namespace, the manager's rules as a client in another
// process sees them, and the client check against killed clients. Plus
// the main loop's guard, run in the test's own process.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/process.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/link_object.h"
#include "service/manager.h"
#include "service/query_ids.h"
#include "service/service_main.h"
#include "tests/support/manager_probe.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

constexpr int kBoundMs = 20000;

// This thread's messages until done() or the bound passes (the service
// pings the test's own client windows, and waits for the answer).
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = kBoundMs) {
  return test::PumpUntil(done, timeout_ms);
}

using TProbe = test::TManagerProbe;
using test::RemoteCode;

class ServiceProcessTest : public ::testing::Test {
 protected:
  win::DWORD Start(const std::string& program, const std::vector<std::string>& args) {
    return children_.Start(program, args, work_.path());
  }
  win::DWORD StartService(const std::vector<std::string>& args) {
    return Start("vandrel-service", args);
  }

  // The window named name, once it exists (0 after the bound).
  static win::HWND WaitForWindow(const char* name) {
    win::HWND found = 0;
    PumpUntil([&] { return (found = win::FindWindowA("STATIC", name)) != 0; });
    return found;
  }
  static win::HWND WaitForManager() { return WaitForWindow(kManagerWindowName); }

  // The exit code of pid, or -1 when it still runs after timeout_ms.
  static int ExitCode(win::DWORD pid, int timeout_ms = kBoundMs) {
    int code = 0;
    return win::WaitChildProcess(pid, timeout_ms, &code) ? code : -1;
  }

  test::ScopedRuntimeDir ns_;
  test::ScratchDir work_{"vandrel-service-work"};
  test::ChildProcesses children_;
};

TEST_F(ServiceProcessTest, WithoutStayAndWithoutClientsItEndsAfterTheIdleTime) {
  const win::DWORD start = win::GetTickCount();
  const win::DWORD pid = StartService({"/other", "SomeDictionaries"});
  EXPECT_EQ(ExitCode(pid), 0);
  EXPECT_GE(win::GetTickCount() - start, kIdleTimeoutMs - 100);
}

class ServiceStayTest : public ServiceProcessTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(ServiceStayTest, StayKeepsItRunningUntilTheLastDisconnect) {
  const win::DWORD pid = StartService({"Dic", GetParam()});
  const win::HWND manager = WaitForManager();
  ASSERT_NE(manager, 0u);
  // Well past the idle time, it still runs.
  EXPECT_EQ(ExitCode(pid, 2 * static_cast<int>(kIdleTimeoutMs)), -1);
  {
    TProbe probe(manager);
    probe.Connect(1);
    probe.Disconnect();
  }
  EXPECT_EQ(ExitCode(pid), 0);
}

INSTANTIATE_TEST_SUITE_P(AnyCase, ServiceStayTest, ::testing::Values("/stay", "/STAY"));

TEST_F(ServiceProcessTest, ASecondServiceInTheNamespaceEndsAtOnce) {
  const win::DWORD first = StartService({"/stay"});
  const win::HWND manager = WaitForManager();
  ASSERT_NE(manager, 0u);
  const win::DWORD second = StartService({"/stay"});
  EXPECT_EQ(ExitCode(second), 1);
  EXPECT_EQ(win::FindWindowA("STATIC", kManagerWindowName), manager);
  TProbe probe(manager);
  probe.Connect(1);
  probe.Disconnect();
  EXPECT_EQ(ExitCode(first), 0);
}

TEST_F(ServiceProcessTest, TheManagerAcceptsAndRefusesClientsByItsRules) {
  const win::DWORD pid = StartService({"/stay"});
  const win::HWND manager = WaitForManager();
  ASSERT_NE(manager, 0u);
  TProbe v0(manager), stranger(manager);
  TOwnedPtr<TProbe> v1(new TProbe(manager)), v2(new TProbe(manager));
  v0.Connect(0);
  v1->Connect(1);
  std::string text;
  EXPECT_EQ(RemoteCode([&] { v2->Connect(2, "Translator 2.0"); }, &text), 101);
  EXPECT_EQ(text, "This version of Translator 2.0 not supports. Download latest Vandrel version.");
  EXPECT_EQ(RemoteCode([&] { v1->Connect(1); }, &text), 102);
  EXPECT_EQ(text, "Second connect query from client");
  EXPECT_EQ(RemoteCode([&] { stranger.Disconnect(); }, &text), 103);
  EXPECT_EQ(text, "Disconnect query from non-client");

  v0.Disconnect();
  v1->Disconnect();
  // The refused connects still hold their references while their windows
  // live: the service goes on.
  EXPECT_EQ(ExitCode(pid, 0), -1);
  EXPECT_EQ(RemoteCode([&] { v1->Disconnect(); }), 103);
  // Once the window of the refused version is gone and v1's window (which
  // holds the refused second connect) is gone too, the client check gives
  // both references back and the service ends.
  v2.reset();
  v1.reset();
  EXPECT_EQ(ExitCode(pid), 0);
}

TEST_F(ServiceProcessTest, AKilledClientIsDroppedAtTheNextCheckAndTheOthersStay) {
  const win::DWORD service = StartService({"/stay"});
  const win::HWND manager = WaitForManager();
  ASSERT_NE(manager, 0u);
  TProbe probe(manager);
  probe.Connect(1);
  const win::DWORD peer = Start("vandrel_svc_probe", {"probe-ready"});
  ASSERT_NE(WaitForWindow("probe-ready"), 0u);
  ASSERT_TRUE(win::KillProcess(peer, true));
  EXPECT_EQ(ExitCode(peer), 128 + 9);
  // The check visits the clients from the last connected to the first: by
  // the time the test's probe is pinged, the killed peer was dropped.
  ASSERT_TRUE(PumpUntil([&] { return probe.pings > 0; }));
  EXPECT_EQ(ExitCode(service, 0), -1);
  probe.Disconnect();  // the last reference: the peer's was given back
  EXPECT_EQ(ExitCode(service), 0);
}

TEST_F(ServiceProcessTest, WhenTheKilledClientWasTheLastTheServiceEnds) {
  const win::DWORD service = StartService({"/stay"});
  ASSERT_NE(WaitForManager(), 0u);
  const win::DWORD peer = Start("vandrel_svc_probe", {"probe-ready"});
  ASSERT_NE(WaitForWindow("probe-ready"), 0u);
  ASSERT_TRUE(win::KillProcess(peer, true));
  EXPECT_EQ(ExitCode(service), 0);
}

TEST_F(ServiceProcessTest, AClientThatStopsAnsweringIsDroppedAfterOneCheckPeriod) {
  const win::DWORD service = StartService({"/stay"});
  const win::HWND manager = WaitForManager();
  ASSERT_NE(manager, 0u);
  TProbe probe(manager);
  probe.Connect(1);
  const win::DWORD peer = Start("vandrel_svc_probe", {"probe-hung", "1", "hang"});
  ASSERT_NE(WaitForWindow("probe-hung"), 0u);
  // The hung client is pinged first (last connected); once its ping is
  // given up on, it is disconnected and the test's probe is pinged.
  ASSERT_TRUE(PumpUntil([&] { return probe.pings > 0; }, 3 * kBoundMs));
  EXPECT_EQ(ExitCode(service, 0), -1);
  probe.Disconnect();  // the last reference: the hung client's was given back
  EXPECT_EQ(ExitCode(service), 0);
  win::KillProcess(peer, true);
}

// ---- the main loop, in this process ----

int handled_after_failure = 0;

win::LRESULT FailingWindowProc(win::HWND, win::UINT msg, win::WPARAM, win::LPARAM) {
  switch (msg) {
    case win::WM_USER:
      throw Exception("loop failure");
    case win::WM_USER + 1:
      throw EAbort("silent");
    case win::WM_USER + 2:
      ++handled_after_failure;
      win::PostQuitMessage(0);
      return 0;
    default:
      return 0;
  }
}

TEST(ServiceLoop, AFailureOutsideARequestIsShownOnceAndTheLoopGoesOn) {
  test::ScopedRuntimeDir ns;
  std::vector<std::string> boxes;
  win::SetMessageBoxHook([&](win::HWND, const std::string& text, const std::string& caption,
                             win::UINT) { boxes.push_back(caption + ": " + text); });
  const win::HWND window = win::CreateWindowExA(win::WS_EX_TOOLWINDOW, "STATIC", "", win::WS_POPUP,
                                                0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(window, 0u);
  win::SetWindowLongPtrA(window, win::GWL_WNDPROC,
                         reinterpret_cast<win::LONG_PTR>(&FailingWindowProc));
  win::PostMessageA(window, win::WM_USER, 0, 0);
  win::PostMessageA(window, win::WM_USER + 1, 0, 0);
  win::PostMessageA(window, win::WM_USER + 2, 0, 0);
  handled_after_failure = 0;
  RunServiceLoop(window);
  EXPECT_EQ(boxes, (std::vector<std::string>{"Vandrel: loop failure"}));
  EXPECT_EQ(handled_after_failure, 1);
  win::DestroyWindow(window);
  win::SetMessageBoxHook({});
}

}  // namespace
}  // namespace vandrel
