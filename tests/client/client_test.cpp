// The client library against real processes: the service started on
// demand (and only once when two clients start it together), a running
// service, refusals, pings, and the requests, notifications and error
// answers of server objects in another process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "client/message_pump.h"
#include "client/remote_object.h"
#include "client/service_connection.h"
#include "client/service_error.h"
#include "client/service_launcher.h"
#include "platform/exceptions.h"
#include "platform/process.h"
#include "platform/window.h"
#include "service/handle_object.h"
#include "tests/client/peers/client_peer_protocol.h"
#include "tests/support/test_support.h"

namespace vandrel::client {
namespace {

using namespace clientpeer;

constexpr int kBoundMs = 20000;

using test::ScopedEnv;

bool WaitGone(win::DWORD pid) {
  return PumpMessagesUntil([&] { return !win::ProcessAlive(pid); }, kBoundMs) ||
         !win::ProcessAlive(pid);
}

class ClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // A service started on demand is no child of ours: never leave one.
    if (const win::HWND manager = FindManagerWindow()) {
      win::DWORD pid = 0;
      win::GetWindowThreadProcessId(manager, &pid);
      if (pid != 0) win::KillProcess(pid, true);
    }
    children_.EndAll();
  }
  win::DWORD Start(const std::string& program, const std::vector<std::string>& args) {
    return children_.Start(program, args, state_.path());
  }
  static win::HWND WaitForWindow(const char* name) {
    win::HWND found = 0;
    // Polled: another process creates it.
    const win::DWORD start = win::GetTickCount();
    while ((found = win::FindWindowA("STATIC", name)) == 0 &&
           win::GetTickCount() - start < static_cast<win::DWORD>(kBoundMs)) {
      win::Sleep(2);
    }
    return found;
  }
  static int ExitCode(win::DWORD pid, int timeout_ms = kBoundMs) {
    int code = 0;
    return win::WaitChildProcess(pid, timeout_ms, &code) ? code : -1;
  }

  test::ScopedRuntimeDir ns_;
  test::ScratchDir state_{"vandrel-client-state"};
  ScopedEnv state_home_{"XDG_STATE_HOME", state_.path()};
  ScopedEnv service_{"VANDREL_SERVICE", test::BinDir() + "/vandrel-service"};
  test::ChildProcesses children_;
};

TEST_F(ClientTest, StartsTheServiceOnDemandInTheStateFolder) {
  ASSERT_EQ(FindManagerWindow(), 0u);
  TServiceConnection connection;
  EXPECT_TRUE(connection.Connected());
  EXPECT_TRUE(connection.StartedService());
  EXPECT_EQ(connection.ManagerWindow(), FindManagerWindow());
  const win::DWORD pid = connection.ServiceProcessId();
  EXPECT_TRUE(win::ProcessAlive(pid));
  EXPECT_TRUE(std::filesystem::exists(state_.path() + "/vandrel/service.log"));
  connection.Disconnect();
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(WaitGone(pid));
}

TEST_F(ClientTest, UsesTheServiceThatRunsAlready) {
  const win::DWORD pid = Start("vandrel-service", {"/stay"});
  ASSERT_NE(WaitForWindow("Vandrel_kstbpsd"), 0u);
  {
    TServiceConnection connection;
    EXPECT_FALSE(connection.StartedService());
    EXPECT_EQ(connection.ServiceProcessId(), pid);
    // Closing the connection disconnects: the last client ends the service.
  }
  EXPECT_EQ(ExitCode(pid), 0);
}

TEST_F(ClientTest, AnsweredPingsKeepThePumpingClientConnected) {
  TServiceConnection connection;
  const win::DWORD pid = connection.ServiceProcessId();
  ASSERT_TRUE(PumpMessagesUntil([&] { return connection.Manager().PingCount() > 0; }, kBoundMs));
  EXPECT_TRUE(win::ProcessAlive(pid));
  connection.Disconnect();  // still listed: answered 1, not 103
  EXPECT_TRUE(WaitGone(pid));
}

TEST_F(ClientTest, ARefusedVersionRaisesTheServicesErrorWithTheClientsName) {
  TClientOptions options;
  options.Version = 2;
  options.Name = "Old Translator";
  win::DWORD pid = 0;
  try {
    TServiceConnection connection(options);
    FAIL() << "connected with version 2";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Code(), 101);
    EXPECT_EQ(e.Text(),
              "This version of Old Translator not supports. Download latest Vandrel version.");
  }
  // The refused connect's reference is given back once the client's window
  // is gone, and the service ends.
  const win::HWND manager = FindManagerWindow();
  ASSERT_NE(manager, 0u);
  win::GetWindowThreadProcessId(manager, &pid);
  EXPECT_TRUE(WaitGone(pid));
}

TEST_F(ClientTest, WithoutAServiceAndWithoutStartingOneOpeningFails) {
  TClientOptions options;
  options.StartService = false;
  try {
    TServiceConnection connection(options);
    FAIL() << "connected to nothing";
  } catch (const EServiceError&) {
    FAIL() << "not an error answer";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "no Vandrel service is running in this session");
  }
}

TEST_F(ClientTest, AServiceProgramThatCannotStartIsNamedInTheError) {
  const std::string missing = state_.path() + "/no-such-service";
  ScopedEnv service("VANDREL_SERVICE", missing.c_str());
  EXPECT_EQ(ServiceProgramPath(), missing);
  try {
    TServiceConnection connection;
    FAIL() << "connected";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
}

TEST_F(ClientTest, TheStateFolderFallsBackToTheHomeFolder) {
  ScopedEnv no_state("XDG_STATE_HOME", nullptr);
  ScopedEnv home("HOME", state_.path().c_str());
  const std::string expected = state_.path() + "/.local/state/vandrel";
  EXPECT_EQ(ClientStateFolder(), expected);
  EXPECT_TRUE(std::filesystem::is_directory(expected));
}

TEST_F(ClientTest, TwoClientsStartedTogetherShareOneService) {
  const win::DWORD a = Start("vandrel_client_peer", {"peer-a"});
  const win::DWORD b = Start("vandrel_client_peer", {"peer-b"});
  const win::HWND control_a = WaitForWindow("peer-a");
  const win::HWND control_b = WaitForWindow("peer-b");
  ASSERT_NE(control_a, 0u);
  ASSERT_NE(control_b, 0u);
  TOwnedPtr<TRemoteObject> ask_a(new TRemoteObject(control_a)), ask_b(new TRemoteObject(control_b));
  ask_a->Call(RQ_INFO);
  ask_b->Call(RQ_INFO);
  // Both may have started a service; one service won, and both use it.
  const std::int32_t manager = ask_a->Answer().ReadInteger(1);
  const std::int32_t pid = ask_a->Answer().ReadInteger(2);
  EXPECT_EQ(ask_b->Answer().ReadInteger(1), manager);
  EXPECT_EQ(ask_b->Answer().ReadInteger(2), pid);
  EXPECT_EQ(static_cast<std::int32_t>(FindManagerWindow()), manager);

  ask_a->Call(RQ_QUIT);
  ask_b->Call(RQ_QUIT);
  EXPECT_EQ(ExitCode(a), 0);
  EXPECT_EQ(ExitCode(b), 0);
  EXPECT_TRUE(WaitGone(static_cast<win::DWORD>(pid)));
}

class ServerObjectsTest : public ClientTest {
 protected:
  void SetUp() override {
    server_pid_ = Start("vandrel_object_server", {"object-server"});
    const win::HWND window = WaitForWindow("object-server");
    ASSERT_NE(window, 0u);
    server_.reset(new TRemoteObject(window));
  }
  void TearDown() override {
    if (server_) server_->Call(RQ_SERVER_QUIT);
    EXPECT_EQ(ExitCode(server_pid_), 0);
    ClientTest::TearDown();
  }
  win::HWND NewObject(std::uint16_t request) {
    server_->Call(request);
    return static_cast<win::HWND>(server_->Answer().ReadInteger(1));
  }
  std::int32_t Bump(TRemoteObject& counter, std::int32_t count, bool bracketed) {
    TTransferMan& out = counter.BeginRequest();
    out.WriteInteger(1, count);
    out.WriteInteger(2, bracketed ? 1 : 0);
    counter.Request(RQ_BUMP);
    return counter.Answer().ReadInteger(1);
  }

  win::DWORD server_pid_ = 0;
  TOwnedPtr<TRemoteObject> server_;
};

TEST_F(ServerObjectsTest, StateAndChangeNotificationsReachTheCallbacks) {
  TOwnedPtr<TRemoteObject> counter(new TRemoteObject(NewObject(RQ_NEW_COUNTER)));
  std::vector<std::int32_t> states;
  std::vector<std::string> order;
  counter->OnState = [&](TTransferMan& state) {
    states.push_back(state.ReadInteger(1));
    order.push_back("state");
  };
  counter->OnChange = [&] { order.push_back("change"); };
  counter->Connect();

  // Three changes in one bracket: three states, one change, all before the
  // answer.
  EXPECT_EQ(Bump(*counter, 3, true), 3);
  EXPECT_EQ(states, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(order, (std::vector<std::string>{"state", "state", "state", "change"}));
  EXPECT_EQ(counter->StateCount(), 3);
  EXPECT_EQ(counter->ChangeCount(), 1);

  // Outside a bracket every change is delivered.
  EXPECT_EQ(Bump(*counter, 2, false), 5);
  EXPECT_EQ(counter->StateCount(), 5);
  EXPECT_EQ(counter->ChangeCount(), 3);

  // A change requested by a client object that is not linked is told to
  // the linked one only.
  TOwnedPtr<TRemoteObject> bystander(new TRemoteObject(counter->Remote()));
  EXPECT_EQ(Bump(*bystander, 1, false), 6);
  EXPECT_EQ(bystander->StateCount(), 0);
  EXPECT_EQ(states.back(), 6);
}

TEST_F(ServerObjectsTest, ErrorAnswersRaiseServiceErrorsAndMissingHandlersDoNot) {
  TOwnedPtr<TRemoteObject> counter(new TRemoteObject(NewObject(RQ_NEW_COUNTER)));
  try {
    counter->Call(RQ_FAIL);
    FAIL() << "no error";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Code(), kCounterErrorCode);
    EXPECT_EQ(e.Text(), "counter refuses");
  }
  try {
    counter->Call(0x3399);
    FAIL() << "no error";
  } catch (const EServiceError&) {
    FAIL() << "a missing handler is no error answer";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Method 13209 not implemented");
  }
  // The object still works.
  EXPECT_EQ(Bump(*counter, 1, false), 1);
}

TEST_F(ServerObjectsTest, AnObjectConnectedTwiceIsFreedByTheSecondDisconnect) {
  const win::HWND object = NewObject(RQ_NEW_AUTO);
  TOwnedPtr<TRemoteObject> a(new TRemoteObject(object)), b(new TRemoteObject(object));
  a->Connect();
  b->Connect();
  a->Disconnect();
  EXPECT_TRUE(win::IsWindow(object));
  b->Disconnect();  // answered 1 by an object that is gone by now
  EXPECT_FALSE(win::IsWindow(object));
  EXPECT_THROW(a->Connect(), Exception);
}

}  // namespace
}  // namespace vandrel::client
