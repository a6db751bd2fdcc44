// Every request gets its own answer, and no client can stop the others
// being served: client processes looking words up at the same time, a
// request buffer or a dictionary cut short under the service, hostile
// buffers, a WM_QUIT or a connect for another process's window, a stopped
// service or client, and the buffers and descriptors left after many runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/service_error.h"
#include "model/model_ids.h"
#include "platform/mapping.h"
#include "platform/runtime_dir.h"
#include "service/errors.h"
#include "service/link_object.h"
#include "service/manager.h"
#include "service/query_ids.h"
#include "service/transfer_man.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

namespace fs = std::filesystem;
using client::EServiceError;
using client::EServiceUnavailable;

constexpr int kWords = 400;

std::u16string WordOf(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "w%05d", i);
  return std::u16string(buf, buf + 6);
}

class ConcurrencyE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    // The dictionaries the load peer expects: "w00000".. with "<word> in
    // <dictionary>".
    for (const char16_t* name : {u"Alpha", u"Beta"}) {
      std::vector<TEntry> entries;
      for (int i = 0; i < kWords; ++i) entries.push_back({WordOf(i), WordOf(i) + u" in " + name});
      Compile(std::string(name, name + std::char_traits<char16_t>::length(name)).append(".dic"),
              entries);
    }
  }

  // Runs count load peers at once; each must end with 0.
  void RunLoadPeers(int count, int sessions, int lookups) {
    std::vector<win::DWORD> pids;
    for (int i = 0; i < count; ++i) {
      pids.push_back(
          StartChild({BinDir() + "/vandrel_load_peer", std::to_string(sessions),
                      std::to_string(lookups), "10", std::to_string(kWords), "Alpha", "Beta"}));
    }
    for (const win::DWORD pid : pids) {
      int code = -1;
      ASSERT_TRUE(WaitChild(pid, 120000, &code)) << "load peer " << pid << " did not end";
      EXPECT_EQ(code, 0) << "load peer " << pid << " met errors or wrong answers (see its output)";
    }
  }

  win::DWORD ServicePid() {
    win::DWORD pid = 0;
    win::GetWindowThreadProcessId(Service().ManagerWindow(), &pid);
    return pid;
  }

  static std::size_t CountEntries(const std::string& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      ++n;
    }
    return n;
  }
  std::size_t ShmFiles() { return CountEntries(win::RuntimeDir() + "/shm"); }
  std::size_t ServiceDescriptors() {
    return CountEntries("/proc/" + std::to_string(ServicePid()) + "/fd");
  }

  // Sends a request with a hand-made buffer and WParam; returns the
  // answer's error code (0 when it succeeded).
  static int RawRequest(win::HWND target, std::uint16_t message, win::HWND wparam,
                        TTransferMan& request) {
    const win::LRESULT result = win::SendMessageA(target, message, wparam, request.BufferId());
    TTransferMan reader;
    reader.OpenRead(static_cast<std::int32_t>(result), -message);
    if (reader.ReadAnswer() != kAnswerFailed) return 0;
    return reader.ReadInteger(kErrorCodeItem);
  }
  static std::string BufferPath(const TTransferMan& t) {
    return win::RuntimeDir() + "/shm/" + TransferBufferName(t.BufferId());
  }
};

TEST_F(ConcurrencyE2eTest, ClientsLookingUpAtOnceEachGetTheirOwnAnswers) {
  Service();  // keeps the service up between the peers' sessions
  for (int round = 0; round < 3; ++round) RunLoadPeers(6, 8, 3);
  // The service is still whole: this client's own set answers.
  auto set = NewSet();
  set->OpenBase(u"Alpha.dic");
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(WordOf(123)));
  EXPECT_EQ(cursor.GetTrans(cursor.State().Bases.at(0)), WordOf(123) + u" in Alpha");
}

TEST_F(ConcurrencyE2eTest, ARequestBufferCutByItsCreatorFailsOnlyThatRequest) {
  auto set = NewSet();
  TTransferMan request;
  request.ResetWrite();
  request.WriteWideString(kItemFileName, std::u16string(20000, u'x'));  // a few pages
  // The first request maps the buffer (the name is refused).
  EXPECT_NE(RawRequest(set->Remote(), BS_OPEN_BASE, set->Handle(), request), 0);
  // Cut between two requests, then the same buffer again.
  fs::resize_file(BufferPath(request), 100);
  EXPECT_EQ(RawRequest(set->Remote(), BS_OPEN_BASE, set->Handle(), request), kErrWrongReadId);
  // The next requests are served.
  client::TBaseClient& base = set->OpenBase(u"Beta.dic");
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(WordOf(7)));
  EXPECT_EQ(cursor.GetTrans(base.Remote()), WordOf(7) + u" in Beta");
}

TEST_F(ConcurrencyE2eTest, ADictionaryCutInPlaceFailsTheRequestNotTheService) {
  {
    std::vector<TEntry> entries;
    for (int i = 0; i < 6000; ++i) {
      entries.push_back({WordOf(i), WordOf(i) + u" a translation long enough to fill pages"});
    }
    Compile("Big.dic", entries);
  }
  ASSERT_GT(fs::file_size(DicPath("Big.dic")), 200000u);
  auto big_set = NewSet();
  big_set->OpenBase(u"Big.dic");
  client::TCursorClient& big = big_set->NewCursor();
  ASSERT_TRUE(big.Locate(WordOf(10)));
  // Overwritten in place, as cp does: the same file, cut short.
  fs::resize_file(DicPath("Big.dic"), 4096);
  bool failed = false;
  try {
    big.Locate(WordOf(5999));
    big.GetTrans(big.State().Bases.at(0));
  } catch (const EServiceError&) {
    failed = true;
  }
  EXPECT_TRUE(failed) << "a lookup in a dictionary cut short answered";
  // The service lives and serves other dictionaries.
  auto set = NewSet();
  client::TBaseClient& alpha = set->OpenBase(u"Alpha.dic");
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(WordOf(42)));
  EXPECT_EQ(cursor.GetTrans(alpha.Remote()), WordOf(42) + u" in Alpha");
}

TEST_F(ConcurrencyE2eTest, HostileBuffersAreRefusedAndTheServiceLives) {
  auto set = NewSet();
  // A buffer of 4 GiB whose one item claims nearly all of it.
  TTransferMan request;
  request.ResetWrite();
  request.WriteWideString(kItemFileName, u"A.dic");
  fs::resize_file(BufferPath(request), (std::uint64_t{1} << 32) - 4096);
  {
    std::fstream f(BufferPath(request), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(6);
    const std::uint32_t claimed = 0xFFFFE000u;
    f.write(reinterpret_cast<const char*>(&claimed), 4);
  }
  const win::DWORD start = win::GetTickCount();
  EXPECT_EQ(RawRequest(set->Remote(), BS_OPEN_BASE, set->Handle(), request), kErrReadBuffer);
  EXPECT_LT(win::GetTickCount() - start, 5000u);
  fs::resize_file(BufferPath(request), 4096);

  // A connect and a disconnect for a window of another process.
  auto peer = StartPeer("e2e-peer-victim");
  TTransferMan connect;
  connect.ResetWrite();
  connect.WriteInteger(kConnectVersionItem, 1);
  EXPECT_EQ(RawRequest(Service().ManagerWindow(), QM_CONNECT, peer->Remote(), connect),
            kErrForeignWindow);
  TTransferMan disconnect;
  EXPECT_EQ(RawRequest(Service().ManagerWindow(), QM_DISCONNECT, peer->Remote(), disconnect),
            kErrForeignWindow);
  // A WM_QUIT posted from here.
  EXPECT_TRUE(win::PostMessageA(Service().ManagerWindow(), win::WM_QUIT, 0, 0));
  // All refused: the service and the peer are served on.
  client::TBaseClient& base = set->OpenBase(u"Alpha.dic");
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(WordOf(3)));
  EXPECT_EQ(cursor.GetTrans(base.Remote()), WordOf(3) + u" in Alpha");
  peer->BeginRequest().WriteWideString(kItemFileName, u"Beta.dic");
  peer->Request(e2epeer::PQ_OPEN);
  peer->Call(e2epeer::PQ_QUIT);
}

TEST_F(ConcurrencyE2eTest, AStoppedServiceEndsInTheTimeLimitsError) {
  auto set = NewSet();
  const win::DWORD pid = ServicePid();
  client::SetRequestTimeout(1000);
  ASSERT_TRUE(win::SuspendProcess(pid, true));
  try {
    set->ListFiles();
    ADD_FAILURE() << "a stopped service answered";
  } catch (const EServiceUnavailable& e) {
    EXPECT_TRUE(e.TimedOut());
    EXPECT_EQ(e.Text(), "the service (pid " + std::to_string(pid) + ") did not answer within 1 s");
  }
  {
    // The command line says so too, with an exit status of its own.
    ScopedEnv timeout("VANDREL_TIMEOUT", "1");
    const TRun run = RunVandrel({"list"});
    EXPECT_EQ(run.code, 3) << run.err;
    EXPECT_NE(run.err.find("did not answer within 1 s"), std::string::npos) << run.err;
  }
  ASSERT_TRUE(win::SuspendProcess(pid, false));
  client::SetRequestTimeout(client::kDefaultRequestTimeoutMs);
  EXPECT_EQ(set->ListFiles().size(), 2u);

  // Ended while a request waits.
  win::KillProcess(pid, true);
  try {
    set->ListFiles();
    ADD_FAILURE() << "a killed service answered";
  } catch (const EServiceUnavailable& e) {
    EXPECT_FALSE(e.TimedOut());
    EXPECT_EQ(e.Text(), "the service (pid " + std::to_string(pid) + ") ended while answering");
  }
}

TEST_F(ConcurrencyE2eTest, AStoppedClientHoldsANotificationOnlyForOneCheckPeriod) {
  auto set = NewSet();
  client::TBaseClient& base = set->OpenBase(u"Alpha.dic");
  win::DWORD pid = 0;
  auto stopped = StartPeer("e2e-peer-stopped", &pid);
  stopped->BeginRequest().WriteWideString(kItemFileName, u"Alpha.dic");
  stopped->Request(e2epeer::PQ_OPEN);
  ASSERT_TRUE(win::SuspendProcess(pid, true));
  // The rename is told to the stopped peer's base: the service gives up on
  // it after one check period, and this request completes.
  const win::DWORD start = win::GetTickCount();
  base.SetName(u"Renamed while a client sleeps");
  EXPECT_LT(win::GetTickCount() - start, kClientCheckPeriodMs + 4000);
  EXPECT_EQ(base.GetName(), u"Renamed while a client sleeps");
  // Others are served at once meanwhile.
  auto other = NewSet();
  other->OpenBase(u"Beta.dic");
  EXPECT_TRUE(other->NewCursor().Locate(WordOf(1)));
  win::SuspendProcess(pid, false);
  win::KillProcess(pid, true);
}

TEST_F(ConcurrencyE2eTest, ManyRunsLeaveBoundedBuffersAndDescriptors) {
  Service();
  const std::size_t shm_before = ShmFiles();
  const std::size_t fds_before = ServiceDescriptors();
  auto run_peer = [&](int run) {
    const win::DWORD pid = StartChild(
        {BinDir() + "/vandrel_load_peer", "1", "1", "3", std::to_string(kWords), "Alpha", "Beta"});
    int code = -1;
    ASSERT_TRUE(WaitChild(pid, kBoundMs, &code));
    ASSERT_EQ(code, 0) << "run " << run;
  };
  for (int run = 0; run < 100; ++run) {
    run_peer(run);
    if (HasFatalFailure()) return;
  }
  // The channels of objects freed by their own last answer stay readable
  // for kRetiredMs; the next retirement after that frees them.
  win::Sleep(kRetiredMs + 500);
  run_peer(100);
  if (HasFatalFailure()) return;
  // Each ended client's buffers are gone, up to the few retired ones and
  // those the service keeps until it sweeps the channels of ended callers;
  // the bound is independent of the number of runs and of their speed.
  // At most kRetiredKeep retired channels, fewer than 16 channels of ended
  // callers in each of the manager and the base manager (they are swept
  // when the table reaches 16), and the buffers of the last run.
  constexpr std::size_t kBound = kRetiredKeep + 2 * 16 + 8;
  EXPECT_LE(ShmFiles(), shm_before + kBound);
  EXPECT_LE(ServiceDescriptors(), fds_before + kBound);
  std::printf(
      "after 100 runs: %zu shared-memory files (%zu before), service descriptors %zu "
      "(%zu before)\n",
      ShmFiles(), shm_before, ServiceDescriptors(), fds_before);
}

}  // namespace
}  // namespace vandrel::test
