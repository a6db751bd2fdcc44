// The manager in the test's own process: connects and their refusals, the
// client list, the base manager's window, the client check (driven by
// sending its timer message directly) and the manager's end with its last
// reference.
#include "service/manager.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/exceptions.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/query_ids.h"
#include "tests/support/manager_probe.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

using TProbe = test::TManagerProbe;
using test::RemoteCode;

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::SetMessageBoxHook([](win::HWND, const std::string&, const std::string&, win::UINT) {});
    manager_ = new TManager(nullptr);
    window_ = manager_->Handle();
  }
  void TearDown() override {
    if (ManagerAlive()) manager_->Free();
    // Take the WM_QUIT that the manager posted on its way out.
    win::MSG msg;
    while (win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE)) {
    }
    SetBaseManFactory(nullptr);
    win::SetMessageBoxHook({});
  }
  // The 5 s client check, now.
  void CheckClients() { win::SendMessageA(window_, win::WM_TIMER, kClientCheckTimerId, 0); }
  bool QuitPosted() {
    win::MSG msg;
    return win::PeekMessageA(&msg, 0, 0, 0, win::PM_NOREMOVE) && msg.message == win::WM_QUIT;
  }

  test::ScopedRuntimeDir ns_;
  TManager* manager_ = nullptr;
  win::HWND window_ = 0;
};

TEST_F(ManagerTest, TheWindowIsNamedAndOnlyOneManagerPerNamespace) {
  EXPECT_EQ(win::FindWindowA("STATIC", "Vandrel_kstbpsd"), window_);
  try {
    TManager second(nullptr);
    FAIL() << "a second manager was created";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("already running"), std::string::npos) << e.what();
  }
  // Later objects are not named.
  TLinkObject other(nullptr);
  EXPECT_EQ(win::FindWindowA("STATIC", "Vandrel_kstbpsd"), window_);
}

TEST_F(ManagerTest, VersionsUpToOneAreAcceptedAndHigherOnesRefusedByName) {
  TProbe v0(window_), v1(window_), v2(window_);
  v0.Connect(0);
  v1.Connect(1);
  std::string text;
  EXPECT_EQ(RemoteCode([&] { v2.Connect(2, "Old Translator 7"); }, &text), 101);
  EXPECT_EQ(text,
            "This version of Old Translator 7 not supports. Download latest Vandrel version.");
  EXPECT_EQ(manager_->Clients(), (std::vector<win::HWND>{v0.Handle(), v1.Handle()}));
  // The refused connect counts; it links the manager to its window too.
  EXPECT_EQ(manager_->RefCount(), 3);
  EXPECT_EQ(manager_->Remote(), v2.Handle());
  EXPECT_TRUE(WasConnected());
}

TEST_F(ManagerTest, AConnectWithoutItsVersionIsRefusedWithAReadError) {
  TProbe probe(window_);
  std::string text;
  EXPECT_EQ(RemoteCode([&] { probe.Call(QM_CONNECT); }, &text), 5);
  EXPECT_EQ(text, "Wrong read ID. Query 11025");
  EXPECT_TRUE(manager_->Clients().empty());
}

TEST_F(ManagerTest, ASecondConnectIsRefusedAndKeepsTheServiceUpAfterTheDisconnect) {
  TProbe probe(window_);
  probe.Connect(1);
  std::string text;
  EXPECT_EQ(RemoteCode([&] { probe.Connect(1); }, &text), 102);
  EXPECT_EQ(text, "Second connect query from client");
  EXPECT_EQ(manager_->Clients().size(), 1u);
  probe.Call(QM_DISCONNECT);
  EXPECT_TRUE(manager_->Clients().empty());
  EXPECT_TRUE(ManagerAlive());
  EXPECT_EQ(manager_->RefCount(), 1);
  EXPECT_FALSE(QuitPosted());
}

TEST_F(ManagerTest, ADisconnectFromANonClientIsRefusedAndChangesNothing) {
  TProbe client(window_), stranger(window_);
  client.Connect(1);
  std::string text;
  EXPECT_EQ(RemoteCode([&] { stranger.Call(QM_DISCONNECT); }, &text), 103);
  EXPECT_EQ(text, "Disconnect query from non-client");
  EXPECT_EQ(manager_->Clients(), (std::vector<win::HWND>{client.Handle()}));
  EXPECT_EQ(manager_->RefCount(), 1);
  // The count was not touched: the client's own disconnect is the last.
  client.Call(QM_DISCONNECT);
  EXPECT_FALSE(ManagerAlive());
  EXPECT_TRUE(QuitPosted());
}

TEST_F(ManagerTest, TheLastDisconnectEndsTheManagerAndIsStillAnswered) {
  TProbe a(window_), b(window_);
  a.Connect(1);
  b.Connect(1);
  a.Call(QM_DISCONNECT);
  EXPECT_TRUE(ManagerAlive());
  EXPECT_FALSE(QuitPosted());
  b.Call(QM_DISCONNECT);  // answered 1 (Query raises otherwise)
  EXPECT_FALSE(ManagerAlive());
  EXPECT_FALSE(win::IsWindow(window_));
  EXPECT_TRUE(QuitPosted());
}

TEST_F(ManagerTest, TheBaseManagerIsAnsweredOnlyWhenTheModelProvidesOne) {
  TProbe probe(window_);
  try {
    probe.Call(QM_GETBASEMAN);
    FAIL() << "answered without a base manager";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Method 11266 not implemented");
  }
}

TEST(ManagerBaseMan, EveryClientGetsTheSameBaseManagerWindow) {
  test::ScopedRuntimeDir ns;
  TNotifyObject* owner_seen = nullptr;
  SetBaseManFactory([&](TCustomManager* manager) {
    owner_seen = manager;
    return TOwnedPtr<TLinkObject>(new TLinkObject(manager));
  });
  auto* manager = new TManager(nullptr);
  SetBaseManFactory(nullptr);
  ASSERT_NE(manager->BaseMan(), nullptr);
  EXPECT_EQ(owner_seen, manager);
  EXPECT_EQ(manager->BaseMan()->Owner(), manager);
  TProbe a(manager->Handle()), b(manager->Handle());
  a.Call(QM_GETBASEMAN);
  b.Call(QM_GETBASEMAN);
  EXPECT_EQ(a.Transfer().ReadInteger(kBaseManItem),
            static_cast<std::int32_t>(manager->BaseMan()->Handle()));
  EXPECT_EQ(b.Transfer().ReadInteger(kBaseManItem),
            static_cast<std::int32_t>(manager->BaseMan()->Handle()));
  const win::HWND base_man = manager->BaseMan()->Handle();
  manager->Free();
  EXPECT_FALSE(win::IsWindow(base_man));  // freed with the manager
  win::MSG msg;
  while (win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE)) {
  }
}

TEST_F(ManagerTest, TheClientCheckDropsGoneClientsAndPingsTheOthers) {
  TProbe alive(window_);
  alive.Connect(1);
  auto* gone = new TProbe(window_);
  gone->Connect(1);
  TProbe late(window_);
  late.Connect(1);
  gone->Free();

  // Only timer 2 is the client check.
  win::SendMessageA(window_, win::WM_TIMER, 7, 0);
  EXPECT_EQ(manager_->Clients().size(), 3u);
  EXPECT_EQ(alive.pings, 0);

  CheckClients();
  EXPECT_EQ(manager_->Clients(), (std::vector<win::HWND>{alive.Handle(), late.Handle()}));
  EXPECT_EQ(manager_->RefCount(), 2);
  EXPECT_EQ(alive.pings, 1);
  EXPECT_EQ(late.pings, 1);
  EXPECT_TRUE(ManagerAlive());
}

TEST_F(ManagerTest, TheClientCheckEndsTheManagerWhenItsLastClientIsGone) {
  auto* first = new TProbe(window_);
  first->Connect(1);
  auto* second = new TProbe(window_);
  second->Connect(1);
  first->Free();
  second->Free();
  // Both are disconnected on their behalf; the second disconnect frees the
  // manager while the check is still on the stack.
  CheckClients();
  EXPECT_FALSE(ManagerAlive());
  EXPECT_FALSE(win::IsWindow(window_));
  EXPECT_TRUE(QuitPosted());
}

TEST_F(ManagerTest, ARefusedConnectsReferenceIsGivenBackWhenItsWindowIsGone) {
  auto* old_client = new TProbe(window_);
  EXPECT_EQ(RemoteCode([&] { old_client->Connect(2, "Old"); }), 101);
  EXPECT_EQ(manager_->Refused(), (std::vector<win::HWND>{old_client->Handle()}));
  CheckClients();  // still there: the service stays up for it
  EXPECT_TRUE(ManagerAlive());
  EXPECT_EQ(old_client->pings, 1);
  old_client->Free();
  CheckClients();
  EXPECT_FALSE(ManagerAlive());
  EXPECT_TRUE(QuitPosted());
}

}  // namespace
}  // namespace vandrel
