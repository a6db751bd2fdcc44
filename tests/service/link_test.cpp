// Exchanges between two real processes: the test process and the linkpeer
// program, each with its own linked objects, in a private namespace.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/link_object.h"
#include "service/object_window.h"
#include "service/query_ids.h"
#include "tests/service/peers/linkpeer_server.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

using namespace linkpeer;

constexpr int kProcessTimeoutMs = 20000;

win::HWND WaitForWindow(const std::string& name) {
  const win::DWORD start = win::GetTickCount();
  while (win::GetTickCount() - start < static_cast<win::DWORD>(kProcessTimeoutMs)) {
    if (win::HWND h = win::FindWindowA("STATIC", name.c_str())) return h;
    win::Sleep(2);
  }
  return 0;
}

// Runs the message loop until a handler posts WM_QUIT, or gives up after
// the timeout (returns false then).
bool PumpUntilQuit() {
  static bool timed_out;
  timed_out = false;
  const win::UINT_PTR timer =
      win::SetTimer(0, 0, kProcessTimeoutMs, [](win::HWND, win::UINT, win::UINT_PTR, win::DWORD) {
        timed_out = true;
        win::PostQuitMessage(1);
      });
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  win::KillTimer(0, timer);
  return !timed_out;
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Boxes() = BoxLog{};
    InstallBoxCounter();
  }

  void TearDown() override {
    if (pid_ != 0) {
      if (client_ != nullptr && win::IsWindow(server_)) {
        try {
          client_->Query(RQ_QUIT);
        } catch (const std::exception&) {
        }
      }
      int code = -1;
      if (!win::WaitChildProcess(pid_, kProcessTimeoutMs, &code)) {
        win::KillProcess(pid_, true);
        win::WaitChildProcess(pid_, -1, &code);
        ADD_FAILURE() << "peer did not end";
      } else {
        EXPECT_EQ(code, 0) << "peer failed (see its output)";
      }
    }
    client_.reset();
    FreeRetiredTransfers();
    win::SetMessageBoxHook({});
  }

  // Starts linkpeer as a server and links a client object to it.
  void StartServer() {
    const std::string name = "linkpeer-server";
    pid_ = win::StartChildProcess({test::BinDir() + "/linkpeer", "serve", name}, "");
    ASSERT_NE(pid_, 0u);
    server_ = WaitForWindow(name);
    ASSERT_NE(server_, 0u) << "server window never appeared";
    client_ = std::make_unique<TLinkClient>(nullptr);
    client_->SetRemote(server_);
    client_->Query(QM_CONNECT);
  }

  TTransferMan& T() { return client_->Transfer(); }

  void Echo(std::int32_t i, double d, const std::u16string& s) {
    T().ResetWrite();
    T().WriteInteger(1, i);
    T().WriteDouble(2, d);
    T().WriteWideString(3, s);
    client_->Query(RQ_ECHO);
  }

  // Message boxes the server process has shown so far.
  std::pair<int, std::string> ServerBoxes() {
    T().ResetWrite();
    client_->Query(RQ_BOX_COUNT);
    const int count = T().ReadInteger(1);
    return {count, ErrorTextFromWide(T().ReadWideString(2))};
  }

  test::ScopedRuntimeDir runtime_;
  win::DWORD pid_ = 0;
  win::HWND server_ = 0;
  std::unique_ptr<TLinkClient> client_;
};

TEST_F(LinkTest, RequestWithItemsOfAllKindsIsReadAndAnswered) {
  StartServer();
  const std::u16string text = u"Wörterbuch \U0001F4D6 \u0416";
  Echo(-7, 3.25, text);
  EXPECT_EQ(T().ReadInteger(1), -6);
  EXPECT_EQ(T().ReadDouble(2), 6.5);
  EXPECT_EQ(T().ReadWideString(3), text + u"!");
  // An empty string travels as id and length only and reads back empty.
  Echo(0x7FFFFFFE, -1e300, u"");
  EXPECT_EQ(T().ReadInteger(1), 0x7FFFFFFF);
  EXPECT_EQ(T().ReadDouble(2), -2e300);
  EXPECT_EQ(T().ReadWideString(3), u"!");
  // The ping is no request: no buffers, the first parameter comes back.
  EXPECT_EQ(win::SendMessageA(server_, QM_PING, 0x1234567, 0), 0x1234567);
}

TEST_F(LinkTest, ItemsReadOutOfOrderFailWithCode5QuotingTheQuery) {
  StartServer();
  // On the receiving side the request's id is quoted; the caller gets the
  // error answer as a silent ERemote.
  T().ResetWrite();
  T().WriteInteger(1, 1);
  T().WriteDouble(2, 2);
  try {
    client_->Query(RQ_READ_SWAPPED);
    FAIL() << "no error";
  } catch (const ERemote& e) {
    EXPECT_EQ(e.HelpContext(), kErrWrongReadId);
    EXPECT_EQ(e.Message(), "Wrong read ID. Query " + std::to_string(RQ_READ_SWAPPED));
  }
  // While an answer is read the number is minus the request's id; the same
  // holds for reading past the last item.
  Echo(1, 2, u"x");
  try {
    T().ReadDouble(2);
    FAIL() << "no error";
  } catch (const ELocal& e) {
    EXPECT_EQ(e.HelpContext(), kErrWrongReadId);
    EXPECT_EQ(e.Message(), "Wrong read ID. Query " + std::to_string(-RQ_ECHO));
  }
  EXPECT_EQ(T().ReadInteger(1), 2) << "a failed read must not move the cursor";
  T().ReadDouble(2);
  T().ReadWideString(3);
  EXPECT_THROW(T().ReadInteger(4), ELocal);
}

TEST_F(LinkTest, RequestWithoutHandlerIsNotImplemented) {
  StartServer();
  T().ResetWrite();
  try {
    client_->Query(RQ_UNHANDLED);
    FAIL() << "no error";
  } catch (const ERemote&) {
    FAIL() << "answer 3 is not an error answer";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Method " + std::to_string(RQ_UNHANDLED) + " not implemented");
  }
  // An ordinary message without handler gets the default window procedure.
  EXPECT_EQ(win::SendMessageA(server_, win::WM_USER + 7, 5, 6), 0);
  EXPECT_EQ(ServerBoxes().first, 0) << "neither is shown to the user";
}

TEST_F(LinkTest, FailingHandlerIsShownOnceAndAnsweredWithCode2) {
  StartServer();
  const std::string text = "Base \xC3\xBC not found";  // UTF-8 "ü"
  T().ResetWrite();
  T().WriteInteger(1, 142);
  T().WriteWideString(2, ErrorTextToWide(text));
  try {
    client_->Query(RQ_RAISE_LOCAL);
    FAIL() << "no error";
  } catch (const ERemote& e) {
    EXPECT_EQ(e.HelpContext(), 142);
    EXPECT_EQ(e.Message(), text);
  }
  auto [boxes, last] = ServerBoxes();
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(last, text);

  // Any other exception travels with code 1.
  T().ResetWrite();
  T().WriteWideString(2, u"plain failure");
  try {
    client_->Query(RQ_RAISE_PLAIN);
    FAIL() << "no error";
  } catch (const ERemote& e) {
    EXPECT_EQ(e.HelpContext(), 1);
    EXPECT_EQ(e.Message(), "plain failure");
  }
  // A silent abort is neither shown nor answered as an error: the answer
  // stays as the handler left it.
  T().ResetWrite();
  client_->Query(RQ_ABORT);
  EXPECT_EQ(T().ReadInteger(1), 7);
  EXPECT_EQ(ServerBoxes().first, 2);
}

TEST_F(LinkTest, GrownBufferIsReadUnderItsNewNumber) {
  StartServer();
  auto text = [](std::int32_t n) {
    std::u16string s;
    for (std::int32_t i = 0; i < n; ++i) s.push_back(TextChar(i));
    return s;
  };
  T().ResetWrite();
  T().WriteInteger(1, 8);
  client_->Query(RQ_TEXT);
  const std::int32_t small = T().ReadId();
  EXPECT_EQ(T().ReadWideString(1), text(8));
  // The answer no longer fits: the server's buffer grows under a new number
  // while this side still holds a view of the old one.
  T().ResetWrite();
  T().WriteInteger(1, 5000);
  client_->Query(RQ_TEXT);
  const std::int32_t large = T().ReadId();
  EXPECT_NE(large, small);
  EXPECT_EQ(T().ReadWideString(1), text(5000));
  EXPECT_EQ(T().ReadSize(), 4u + 6u + 10000u + 2u);
  // Smaller answers fit the grown buffer: same number, view reused.
  T().ResetWrite();
  T().WriteInteger(1, 3);
  client_->Query(RQ_TEXT);
  EXPECT_EQ(T().ReadId(), large);
  EXPECT_EQ(T().ReadWideString(1), text(3));
}

TEST_F(LinkTest, NestedExchangesRunBothWays) {
  StartServer();
  // Test -> server RQ_CALL_BACK(4); server -> test RQ_ADD_ONE(40) while the
  // test waits; test -> server RQ_ECHO(40) while the server waits; 40 + 1 +
  // 1 comes back.
  T().ResetWrite();
  T().WriteInteger(1, 4);
  client_->Query(RQ_CALL_BACK);
  EXPECT_EQ(T().ReadInteger(1), 42);
  EXPECT_EQ(T().ReadWideString(2), u"called back");
  // Both objects still work afterwards.
  Echo(1, 1, u"a");
  EXPECT_EQ(T().ReadInteger(1), 2);
}

TEST_F(LinkTest, ObjectFreedInItsOwnHandlerStillAnswers) {
  StartServer();
  T().ResetWrite();
  client_->Query(RQ_NEW_CHILD);
  const auto child = static_cast<win::HWND>(T().ReadInteger(1));
  ASSERT_NE(child, 0u);
  TLinkClient link(nullptr);
  link.SetRemote(child);
  link.Query(QM_CONNECT);
  EXPECT_EQ(win::SendMessageA(child, QM_PING, 99, 0), 99);
  // The child frees itself inside its disconnect handler; its answer (code
  // 1, no items) is still read after the child is gone.
  link.Transfer().ResetWrite();
  EXPECT_NO_THROW(link.Query(QM_DISCONNECT));
  EXPECT_EQ(link.Transfer().ReadAnswer(), kAnswerDone);
  EXPECT_FALSE(win::IsWindow(child));
  // A query to the gone window is answered 0 and fails on reading.
  try {
    link.Query(QM_CONNECT);
    FAIL() << "no error";
  } catch (const ELocal& e) {
    EXPECT_EQ(e.HelpContext(), kErrEmptyReadBuffer);
    EXPECT_EQ(e.Message(), "Empty read buffer. Query " + std::to_string(-QM_CONNECT));
  }
  EXPECT_EQ(ServerBoxes().first, 0);
}

TEST_F(LinkTest, MalformedBuffersGetErrorAnswersAndTheServerGoesOn) {
  // The server lives in this process; the peer is the hostile client.
  auto server = std::make_unique<TLinkServer>(nullptr);
  ASSERT_NE(server->Handle(), 0u);
  pid_ = win::StartChildProcess(
      {test::BinDir() + "/linkpeer", "attack", std::to_string(server->Handle())}, "");
  ASSERT_NE(pid_, 0u);
  ASSERT_TRUE(PumpUntilQuit()) << "the attacker never sent its verdict";
  ASSERT_TRUE(server->verdict_received);
  EXPECT_EQ(server->verdict_failures, 0) << server->verdict_text;
  // One message box per malformed request, each naming the damage.
  EXPECT_EQ(Boxes().count, 9);
  EXPECT_EQ(Boxes().last_text, "Wrong read ID. Query " + std::to_string(RQ_ECHO));
  EXPECT_EQ(Boxes().last_caption, "Vandrel");
  int code = -1;
  ASSERT_TRUE(win::WaitChildProcess(pid_, kProcessTimeoutMs, &code));
  pid_ = 0;
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace vandrel
