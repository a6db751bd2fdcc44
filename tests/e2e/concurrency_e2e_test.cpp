// Every request gets its own answer, and no client can stop the others
// being served: client processes looking words up at the same time, a
// request buffer or a dictionary cut short under the service, hostile
// buffers, a WM_QUIT or a connect for another process's window, a stopped
// service or client, and the buffers and descriptors left after many runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

  std::size_t ServiceResidentKiB() {
    std::ifstream status("/proc/" + std::to_string(ServicePid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::strtoul(line.c_str() + 6, nullptr, 10);
    }
    return 0;
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

TEST_F(ConcurrencyE2eTest, APeerThatNeverReadsItsRepliesHoldsNobody) {
  Service();
  const std::size_t rss_before = ServiceResidentKiB();
  const std::size_t fds_before = ServiceDescriptors();
  const std::size_t shm_before = ShmFiles();
  const std::string report = state_.path() + "/deaf.txt";
  const win::DWORD deaf = StartChild(
      {"/bin/sh", "-c", "exec '" + BinDir() + "/vandrel_deaf_peer' 14 >'" + report + "'"});
  // Well-behaved clients are served in full meanwhile; the service's
  // memory and descriptors stay bounded while it answers the flood.
  std::size_t rss_peak = rss_before;
  std::size_t fds_peak = fds_before;
  std::size_t shm_peak = shm_before;
  auto sample = [&] {
    rss_peak = std::max(rss_peak, ServiceResidentKiB());
    fds_peak = std::max(fds_peak, ServiceDescriptors());
    shm_peak = std::max(shm_peak, ShmFiles());
  };
  // Sampled while the deaf peer is the only other client: the load peers'
  // channels of objects freed by their own last answer stay readable for
  // kRetiredMs, and how many that is depends on the machine's speed, so
  // each sample waits that out and lets one small run retire them.
  auto retire_and_sample = [&] {
    win::Sleep(kRetiredMs + 500);
    const win::DWORD pid = StartChild(
        {BinDir() + "/vandrel_load_peer", "1", "1", "3", std::to_string(kWords), "Alpha", "Beta"});
    int code = -1;
    ASSERT_TRUE(WaitChild(pid, kBoundMs, &code));
    EXPECT_EQ(code, 0);
    sample();
  };
  win::Sleep(1000);
  sample();
  for (int round = 0; round < 2; ++round) {
    RunLoadPeers(4, 4, 3);
    retire_and_sample();
    if (HasFatalFailure()) return;
  }
  int code = -1;
  ASSERT_TRUE(WaitChild(deaf, kBoundMs, &code));
  EXPECT_EQ(code, 0);
  long frames = 0, drops = 0;
  ASSERT_EQ(std::sscanf(ReadFile(report).c_str(), "frames %ld drops %ld", &frames, &drops), 2)
      << ReadFile(report);
  // It sent far more than the service keeps for one peer, and the service
  // let go of it rather than hold its replies.
  EXPECT_GT(frames, 4096 * 2);
  EXPECT_GE(drops, 1);
#if !defined(__SANITIZE_ADDRESS__)
  // (The address sanitizer keeps freed memory in quarantine, so the
  // service's resident size there says nothing about what it holds.)
  EXPECT_LT(rss_peak, rss_before + 32 * 1024) << "resident KiB before " << rss_before;
#endif
  // Channels of made-up callers are swept as the table grows (fewer than
  // 32 of them), besides what the load peers left as in the next test.
  constexpr std::size_t kBound = kRetiredKeep + 2 * 16 + 8 + 32;
  EXPECT_LE(fds_peak, fds_before + kBound);
  EXPECT_LE(shm_peak, shm_before + kBound);
  std::printf(
      "deaf peer: %ld requests, dropped %ld times; service resident %zu -> peak %zu KiB, "
      "descriptors %zu -> peak %zu, shared-memory files %zu -> peak %zu\n",
      frames, drops, rss_before, rss_peak, fds_before, fds_peak, shm_before, shm_peak);
  // The service answers at once afterwards.
  auto set = NewSet();
  client::TBaseClient& base = set->OpenBase(u"Beta.dic");
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(WordOf(99)));
  EXPECT_EQ(cursor.GetTrans(base.Remote()), WordOf(99) + u" in Beta");
}

// The numbers buffers take come from one shared counter: how far it moved
// tells how many buffers were made (one per growth).
std::uint32_t TransferNumbersTaken() {
  std::ifstream in(win::RuntimeDir() + "/shm/" + kTransferIdName, std::ios::binary);
  std::uint32_t next = 0;
  in.read(reinterpret_cast<char*>(&next), sizeof next);
  return next;
}

TEST_F(ConcurrencyE2eTest, ALongAnswerGrowsItsBufferAFewTimesOnly) {
  std::vector<TEntry> entries;
  for (int i = 0; i < 2500; ++i) entries.push_back({WordOf(i), WordOf(i) + u" in Long"});
  Compile("Long.dic", entries);
  Service();
  auto peer = StartPeer("e2e-peer-pages");
  peer->BeginRequest().WriteWideString(kItemFileName, u"Long.dic");
  peer->Request(e2epeer::PQ_OPEN);
  auto page = [&](std::int32_t count) {
    TTransferMan& ask = peer->BeginRequest();
    ask.WriteWideString(kItemWord, u"w");
    ask.WriteInteger(kItemCount, count);
    peer->Request(e2epeer::PQ_PAGE);
    TTransferMan& answer = peer->Answer();
    ASSERT_EQ(answer.ReadInteger(kItemCount), count);
    for (int i = 0; i < count; ++i) ASSERT_EQ(answer.ReadWideString(kItemWord), WordOf(i));
  };
  // A page of one word first: every object and channel on the way exists,
  // and the peer's answer channel for this caller holds a few bytes.
  page(1);
  // Then 2,000 words, one item per word, through that same channel.
  const std::uint32_t before = TransferNumbersTaken();
  ASSERT_NE(before, 0u);
  page(2000);
  const std::uint32_t taken = TransferNumbersTaken() - before;
  // Doubling from a few bytes reaches the answer's 28 KiB in about a dozen
  // steps (a buffer sized exactly to each item would take one per word);
  // the service's answer to the peer takes one or two more.
  EXPECT_LE(taken, 16u);
  std::printf("a 2,000-word answer took %u buffer numbers\n", taken);
  peer->Call(e2epeer::PQ_QUIT);
}

// The sanitizer build runs every process several times slower: fewer runs
// keep it within the test's time limit (the bound does not depend on them).
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 60;
#else
constexpr int kRuns = 200;
#endif

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
  for (int run = 0; run < kRuns; ++run) {
    run_peer(run);
    if (HasFatalFailure()) return;
  }
  // The channels of objects freed by their own last answer stay readable
  // for kRetiredMs; the next retirement after that frees them.
  win::Sleep(kRetiredMs + 500);
  run_peer(kRuns);
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
      "after %d runs: %zu shared-memory files (%zu before), service descriptors %zu "
      "(%zu before)\n",
      kRuns, ShmFiles(), shm_before, ServiceDescriptors(), fds_before);
}

}  // namespace
}  // namespace vandrel::test
