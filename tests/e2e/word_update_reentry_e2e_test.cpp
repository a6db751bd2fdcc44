// Word updates against what other requests and other processes do while a
// merge runs: requests served while the merge waits for the client's
// progress answers (cursors of other clients moving on the same file,
// parameter writes, deletion of the file, the merging base closed, its set
// freed, its client disconnecting or ending), a dictionary another process
// holds open, a second service holding the update file, a full disk, and a
// service whose working directory is the dictionary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/cursor_client.h"
#include "model/model_ids.h"
#include "tests/e2e/word_update_fixture.h"

namespace vandrel::test {
namespace {

using client::TBaseClient;

// The old words are w0000, w0002, ... w0598; the update puts w0001,
// w0005, ... w0397 (every fourth odd number).
constexpr int kOldWords = 300;
constexpr int kNewWords = 100;

std::string OldWord(int i) {
  char w[16];
  std::snprintf(w, sizeof w, "w%04d", 2 * i);
  return w;
}
std::string NewWord(int i) {
  char w[16];
  std::snprintf(w, sizeof w, "w%04d", 4 * i + 1);
  return w;
}

class WordUpdateReentryE2eTest : public WordUpdateTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < kOldWords; ++i)
      old_.push_back({Wide(OldWord(i)), Wide(OldWord(i) + " in A")});
    Compile("A.dic", old_);
    Compile("B.dic", Tagged(u"B", {u"banana"}));
  }
  // The old words with the update's new ones, in dictionary order.
  std::vector<TEntry> Merged() const {
    std::vector<TEntry> all = old_;
    for (int i = 0; i < kNewWords; ++i) all.push_back({Wide(NewWord(i)), u"new"});
    std::sort(all.begin(), all.end(),
              [](const TEntry& a, const TEntry& b) { return a.word < b.word; });
    return all;
  }
  void PutNewWords(TBaseClient& base) {
    base.BeginUpdate();
    for (int i = 0; i < kNewWords; ++i) base.PutWord(Wide(NewWord(i)), u"new");
    base.EndUpdate();
  }
  // Neither the merge output nor the update file is left behind.
  void ExpectNoLeftovers() {
    EXPECT_FALSE(std::filesystem::exists(DicPath("A.tmp")));
    EXPECT_FALSE(std::filesystem::exists(state_.path() + "/vandrel/Updates.tmp"));
  }
  // The update peer's result file once it holds a line.
  std::string WaitForResult(const std::string& path) {
    std::string text;
    client::PumpMessagesUntil(
        [&] {
          text = ReadFile(path);
          return !text.empty() && text.back() == '\n';
        },
        kBoundMs);
    return text;
  }
  win::DWORD StartUpdatePeer(const std::string& result, const std::string& action, int count = 10) {
    return StartChild(
        {BinDir() + "/vandrel_update_peer", result, "A.dic", action, std::to_string(count)});
  }

  // A peer holding DICT (or an update) through a second service of its
  // own session; returns the peer, sets *service to that service.
  win::DWORD StartHolder(const std::string& action, const std::string& state_home,
                         win::DWORD* service) {
    const std::string ready = state_.path() + "/holder.txt";
    std::filesystem::remove(ready);
    win::DWORD holder = 0;
    {
      ScopedEnv run("VANDREL_RUNTIME_DIR", other_run_.path().c_str());
      ScopedEnv state("XDG_STATE_HOME", state_home.c_str());
      ScopedEnv dic("VANDREL_PEER_DIC", DicDir().c_str());
      holder = StartUpdatePeer(ready, action);
    }
    const std::string said = WaitForResult(ready);
    EXPECT_EQ(said.rfind("ready ", 0), 0u) << said;
    *service = static_cast<win::DWORD>(std::atol(said.c_str() + 6));
    return holder;
  }
  void EndHolder(win::DWORD holder, win::DWORD service) {
    win::KillProcess(holder, true);
    WaitChild(holder, kBoundMs, nullptr);
    if (service != 0) win::KillProcess(service, true);
    client::PumpMessagesUntil([&] { return !win::ProcessAlive(service); }, kBoundMs);
  }

  std::vector<TEntry> old_;
  ScratchDir other_run_{"vandrel-e2e-run2"};
};

TEST_F(WordUpdateReentryE2eTest, RequestsDuringTheProgressWaitNeitherDisturbNorRewriteTheMerge) {
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"A.dic");
  const WideString name = base.GetName();
  auto other = NewSet();
  TBaseClient& other_base = other->OpenBase(u"A.dic");
  TBaseClient& b = other->OpenBase(u"B.dic");
  client::TCursorClient& cursor = other->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"w0100"));
  auto peer = StartPeer("update-reader");
  peer->BeginRequest().WriteWideString(kItemFileName, u"A.dic");
  peer->Request(e2epeer::PQ_OPEN);

  int calls = 0;
  base.OnProgress = [&](std::int32_t, std::int32_t) {
    ++calls;
    // Another process's cursor jumps about the same file and reads the old
    // words; this process's other cursor walks it.
    const std::string word = OldWord((calls * 37) % kOldWords);
    peer->BeginRequest().WriteWideString(kItemWord, Wide(word));
    peer->Request(e2epeer::PQ_LOCATE);
    EXPECT_EQ(peer->Answer().ReadInteger(kItemResult), 1);
    EXPECT_EQ(peer->Answer().ReadWideString(kItemWord), Wide(word));
    EXPECT_EQ(peer->Answer().ReadWideString(kItemTrans), Wide(word + " in A"));
    EXPECT_TRUE(cursor.Next());
    if (calls == 1) {
      // Nothing rewrites, deletes or updates the merging file meanwhile,
      // and the one update of the service is taken.
      EXPECT_EQ(Refusal([&] { base.SetName(u"renamed"); }).Code(), kErrBaseBusy);
      EXPECT_EQ(Refusal([&] { other_base.SetDescription(u"other"); }).Code(), kErrBaseBusy);
      other_base.BeginParams();
      EXPECT_EQ(Refusal([&] { other_base.EndParams(); }).Code(), kErrBaseBusy);
      EXPECT_EQ(Refusal([&] { other->DeleteBaseFile(u"A.dic"); }).Code(), kErrBaseBusy);
      EXPECT_EQ(Refusal([&] { base.PutWord(u"fig", u"x"); }).Code(), kErrBaseBusy);
      EXPECT_EQ(Refusal([&] { other_base.PutWord(u"fig", u"x"); }).Code(), kErrBaseBusy);
      EXPECT_EQ(Refusal([&] { b.PutWord(u"fig", u"x"); }).Code(), kErrBaseBusy);
    }
    return false;
  };
  PutNewWords(base);
  EXPECT_EQ(calls, 100);
  EXPECT_EQ(Dump("A.dic"), Merged());
  EXPECT_EQ(base.GetName(), name);
  EXPECT_EQ(other_base.Params().RecordCount, kOldWords + kNewWords);
  ExpectNoLeftovers();

  // Each cursor finds its word in the new file and steps onto new words.
  const WideString at = Wide(OldWord(50 + calls));
  EXPECT_EQ(cursor.State().Word, at);
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.State().Word, Wide("w0" + std::to_string(2 * (50 + calls) + 1)));
  peer->BeginRequest().WriteWideString(kItemWord, u"w0005");
  peer->Request(e2epeer::PQ_LOCATE);
  EXPECT_EQ(peer->Answer().ReadInteger(kItemResult), 1);
  EXPECT_EQ(peer->Answer().ReadWideString(kItemWord), u"w0005");
  EXPECT_EQ(peer->Answer().ReadWideString(kItemTrans), u"new");
  // The refusals left nothing behind: other bases update the files.
  b.PutWord(u"fig", u"purple");
  other_base.PutWord(u"zz", u"last");
  EXPECT_EQ(TransOf("A.dic", u"zz"), u"last");
  peer->Call(e2epeer::PQ_QUIT);
}

TEST_F(WordUpdateReentryE2eTest, ClosingTheMergingBaseOrFreeingItsSetWaitsForTheMerge) {
  Compile("C.dic", old_);
  // Closed by its own client while the merge asks for progress: the base
  // goes when the merge has ended, and the answer tells the truth.
  {
    auto set = NewSet();
    const win::HWND window = set->OpenBaseWindow(u"A.dic");
    TOwnedPtr<TBaseClient> base(new TBaseClient(window));
    base->Connect();
    int calls = 0;
    base->OnProgress = [&](std::int32_t, std::int32_t) {
      if (++calls == 1) set->CloseBaseWindow(window);
      return false;
    };
    PutNewWords(*base);
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(Dump("A.dic"), Merged());
    ExpectNoLeftovers();
  }
  // The whole set freed meanwhile: its free waits for the merge too.
  {
    auto set = NewSet();
    const win::HWND window = set->OpenBaseWindow(u"C.dic");
    TOwnedPtr<TBaseClient> base(new TBaseClient(window));
    base->Connect();
    client::TCursorClient& cursor = set->NewCursor();
    ASSERT_TRUE(cursor.Locate(u"w0100"));
    int calls = 0;
    base->OnProgress = [&](std::int32_t, std::int32_t) {
      if (++calls == 1) BaseMan().FreeBaseSetWindow(set->Remote());
      return false;
    };
    PutNewWords(*base);
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(Dump("C.dic"), Merged());
    EXPECT_FALSE(std::filesystem::exists(DicPath("C.tmp")));
  }
  // The service is sound and the update counts came back.
  auto set = NewSet();
  TBaseClient& a = set->OpenBase(u"A.dic");
  a.PutWord(u"zz", u"last");
  EXPECT_EQ(TransOf("A.dic", u"zz"), u"last");
  set->OpenBase(u"C.dic").DeleteWord(u"w0001");
  EXPECT_EQ(TransOf("C.dic", u"w0001"), u"<absent>");
}

TEST_F(WordUpdateReentryE2eTest,
       AClientThatDisconnectsOrEndsDuringItsMergeLeavesOneFileOrTheOther) {
  auto set = NewSet();  // the service runs, and this client reads on
  TBaseClient& reader = set->OpenBase(u"A.dic");
  std::vector<TEntry> with_peer = old_;
  for (int i = 0; i < 30; ++i) {
    char w[16];
    std::snprintf(w, sizeof w, "peer%05d", i);
    with_peer.push_back({Wide(w), u"from the peer"});
  }
  std::sort(with_peer.begin(), with_peer.end(),
            [](const TEntry& a, const TEntry& b) { return a.word < b.word; });
  for (const std::string action : {"exit", "disconnect"}) {
    SCOPED_TRACE(action);
    const std::string result = state_.path() + "/peer-" + action + ".txt";
    const win::DWORD start = win::GetTickCount();
    const win::DWORD pid = StartUpdatePeer(result, action, 30);
    const std::string said = WaitForResult(result);
    EXPECT_TRUE(WaitChild(pid, kBoundMs, nullptr));
    // The merge has ended when the update file is gone.
    client::PumpMessagesUntil(
        [&] { return !std::filesystem::exists(state_.path() + "/vandrel/Updates.tmp"); }, kBoundMs);
    std::printf("%s: %s after %u ms\n", action.c_str(), said.c_str(), win::GetTickCount() - start);
    const std::vector<TEntry> now = Dump("A.dic");
    if (said == "ok\n") {
      EXPECT_EQ(now, with_peer);
    } else {
      // Stopped: a client that is gone answers no progress question.
      EXPECT_TRUE(said == "exited\n" || said.rfind("error", 0) == 0) << said;
      EXPECT_TRUE(now == old_ || now == with_peer);
    }
    EXPECT_EQ(reader.Params().RecordCount, static_cast<std::int32_t>(now.size()));
    ExpectNoLeftovers();
  }
  reader.PutWord(u"zz", u"last");
  EXPECT_EQ(TransOf("A.dic", u"zz"), u"last");
}

TEST_F(WordUpdateReentryE2eTest, ADictionaryAnotherServiceHoldsOpenKeepsItsOldFile) {
  // A second service (another session) serving the same folder maps A.dic:
  // the new file cannot take the name, the merge says so and keeps the old.
  ScratchDir other_state("vandrel-e2e-state2");
  win::DWORD other_service = 0;
  const win::DWORD holder = StartHolder("hold", other_state.path(), &other_service);
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"A.dic");
  const client::EServiceError error = Refusal([&] { PutNewWords(base); });
  EXPECT_EQ(error.Code(), kErrBaseInUse);
  EXPECT_EQ(error.Text(), "Base \"" + WideToUtf8(base.GetName()) + "\" now in use");
  EXPECT_EQ(Dump("A.dic"), old_);
  EXPECT_EQ(base.Params().RecordCount, kOldWords);
  ExpectNoLeftovers();

  // Once the other service has gone, the same update goes through.
  EndHolder(holder, other_service);
  PutNewWords(base);
  EXPECT_EQ(Dump("A.dic"), Merged());
}

TEST_F(WordUpdateReentryE2eTest, AnUpdateFileHeldByAnotherServiceIsAClearRefusal) {
  // Two services of one user with one state folder: the second one's
  // update is refused, naming the file; its counts come back.
  win::DWORD other_service = 0;
  const win::DWORD holder = StartHolder("hold-update", state_.path(), &other_service);
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"B.dic");
  const client::EServiceError error = Refusal([&] { base.PutWord(u"fig", u"x"); });
  EXPECT_EQ(error.Code(), 1);
  EXPECT_NE(error.Text().find("Updates.tmp"), std::string::npos) << error.Text();
  EXPECT_NE(error.Text().find("another process"), std::string::npos) << error.Text();
  EXPECT_EQ(Words("B.dic"), std::vector<WideString>{u"banana"});
  // The killed service's lock goes with it: the leftover is deleted and
  // the update goes through.
  EndHolder(holder, other_service);
  base.PutWord(u"fig", u"purple");
  EXPECT_EQ(TransOf("B.dic", u"fig"), u"purple");
  EXPECT_EQ(TransOf("A.dic", u"held"), u"<absent>");
}

TEST_F(WordUpdateReentryE2eTest, AFullDiskDuringTheMergeKeepsTheOldFile) {
  // The service runs with a file size limit (SIGXFSZ ignored, so writes
  // past it fail with EFBIG as on a full disk): the dictionary is larger
  // than the limit, the update table is not.
  std::vector<TEntry> big;
  for (int i = 0; i < 20000; ++i)
    big.push_back({Wide("big" + std::to_string(100000 + i)),
                   Wide("a translation long enough to make the file grow " + std::to_string(i))});
  Compile("Big.dic", big);
  ASSERT_GT(std::filesystem::file_size(DicPath("Big.dic")), 1u << 20);
  const std::string wrapper = state_.path() + "/limited-service.sh";
  std::ofstream(wrapper) << "#!/bin/sh\ntrap '' XFSZ\nulimit -f 1024\nexec '" << BinDir()
                         << "/vandrel-service' \"$@\"\n";
  ::chmod(wrapper.c_str(), 0755);
  ScopedEnv service("VANDREL_SERVICE", wrapper.c_str());
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"Big.dic");
  const client::EServiceError error = Refusal([&] { base.PutWord(u"big2", u"x"); });
  EXPECT_NE(error.Code(), 0);
  EXPECT_FALSE(error.Text().empty());
  std::printf("full disk: %d %s\n", error.Code(), error.Text().c_str());
  EXPECT_EQ(Dump("Big.dic").size(), big.size());
  EXPECT_EQ(base.Params().RecordCount, static_cast<std::int32_t>(big.size()));
  EXPECT_FALSE(std::filesystem::exists(DicPath("Big.tmp")));
  // Small dictionaries still update under the limit.
  TBaseClient& a = set->OpenBase(u"A.dic");
  a.PutWord(u"w0001", u"new");
  EXPECT_EQ(TransOf("A.dic", u"w0001"), u"new");
}

TEST_F(WordUpdateReentryE2eTest, AServiceRunningInTheDictionaryFolderRefusesUpdates) {
  // Started by hand in the dictionary folder: "Updates.tmp" would lie
  // beside the dictionaries (and be the merge output of "Updates.dic").
  Compile("Updates.dic", Tagged(u"U", {u"one"}));
  StartChild(
      {"/bin/sh", "-c",
       "cd '" + DicDir() + "' && exec '" + BinDir() + "/vandrel-service' '" + DicDir() + "'"});
  ASSERT_TRUE(client::PumpMessagesUntil([] { return client::FindManagerWindow() != 0; }, kBoundMs));
  auto set = NewSet();
  for (const char16_t* name : {u"A.dic", u"Updates.dic"}) {
    TBaseClient& base = set->OpenBase(name);
    const client::EServiceError error = Refusal([&] { base.PutWord(u"w0001", u"x"); });
    EXPECT_EQ(error.Code(), 1);
    EXPECT_NE(error.Text().find("dictionary folder"), std::string::npos) << error.Text();
  }
  EXPECT_FALSE(std::filesystem::exists(DicPath("Updates.tmp")));
  EXPECT_EQ(Dump("A.dic"), old_);
  EXPECT_EQ(Words("Updates.dic"), std::vector<WideString>{u"one"});
}

}  // namespace
}  // namespace vandrel::test
