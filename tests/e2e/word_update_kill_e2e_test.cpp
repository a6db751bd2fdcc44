// The dictionary survives a service killed at any point of a merge: while
// `vandrel update` merges 1,000 changes, the service gets SIGKILL after a
// random delay (up to 2.5 times an undisturbed merge) from the moment its
// merge output appears. The file is then
// always the old dictionary or the new one, and opens and reads whole; the
// next service start removes the merge output and the update file left
// behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "client/service_connection.h"
#include "tests/e2e/word_update_fixture.h"

namespace vandrel::test {
namespace {

constexpr int kWords = 10000;
// The sanitizer build runs every process several times slower: fewer
// kills keep it within the test's time limit.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKills = 10;
#else
constexpr int kKills = 100;
#endif

std::string Word(int n) {
  char w[16];
  std::snprintf(w, sizeof w, "k%06d", n);
  return w;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class WordUpdateKillE2eTest : public WordUpdateTest {
 protected:
  // A digest of every word and translation, read through the file's own
  // reader; records that cannot be read give a distinct empty digest.
  std::string Digest(const std::string& name) {
    std::string all;
    try {
      std::size_t n = 0;
      for (const TEntry& e : Dump(name)) {
        all += std::string(e.word.begin(), e.word.end()) + '\t' +
               std::string(e.trans.begin(), e.trans.end()) + '\n';
        ++n;
      }
      all += std::to_string(n);
    } catch (const std::exception& e) {
      ADD_FAILURE() << name << " does not read whole: " << e.what();
      return "";
    }
    return all;
  }
  // A service of our own for the scratch folder; the leftovers are gone
  // once its base manager is there.
  std::unique_ptr<client::TServiceConnection> StartService() {
    client::TClientOptions options;
    options.Name = "kill test";
    options.ServiceArgs = {DicDir()};
    auto connection = std::make_unique<client::TServiceConnection>(options);
    connection->BaseManWindow();
    return connection;
  }
};

TEST_F(WordUpdateKillE2eTest, AServiceKilledAtRandomPointsOfAMergeLeavesTheOldOrTheNewFile) {
  std::map<std::string, std::string> old_words;
  std::vector<TEntry> entries;
  for (int i = 0; i < kWords; ++i) {
    const std::string w = Word(2 * i);
    old_words[w] = "meaning of " + w + ", with a few more words to copy";
    entries.push_back({Wide(w), Wide(old_words[w])});
  }
  Compile("K.dic", entries);
  const std::string pristine = state_.path() + "/K.orig";
  std::filesystem::copy_file(DicPath("K.dic"), pristine);

  // 600 new words, 300 replaced, 100 deleted; the expected file from them.
  std::mt19937 random(20261208);
  std::map<std::string, std::string> new_words = old_words;
  {
    std::ofstream changes(DicPath("changes.tsv"));
    std::set<std::string> used;  // each word once, so that no two changes join
    for (int i = 0; i < 1000;) {
      const int n = static_cast<int>(random() % kWords);
      const std::string w = Word(i < 600 ? 2 * n + 1 : 2 * n);
      if (!used.insert(w).second) continue;
      const std::string trans = i < 900 ? "changed " + std::to_string(i) : "";
      changes << w << '\t' << trans << '\n';
      if (trans.empty())
        new_words.erase(w);
      else
        new_words[w] = trans;
      ++i;
    }
  }
  std::string want_old, want_new;
  for (const auto& [w, t] : old_words) want_old += w + '\t' + t + '\n';
  for (const auto& [w, t] : new_words) want_new += w + '\t' + t + '\n';
  want_old += std::to_string(old_words.size());
  want_new += std::to_string(new_words.size());
  ASSERT_EQ(Digest("K.dic"), want_old);

  const std::string out = DicPath("K.tmp");
  const std::string updates = state_.path() + "/vandrel/Updates.tmp";
  const auto now = [] { return std::chrono::steady_clock::now(); };
  const auto update = [&] {
    return StartChild({"/bin/sh", "-c",
                       "exec '" + BinDir() + "/vandrel' update K '" + DicPath("changes.tsv") +
                           "' >/dev/null 2>&1"});
  };

  // Once undisturbed: how long the merge output lives.
  auto service = StartService();
  const win::DWORD calibration = update();
  while (!Exists(out) && !win::WaitChildProcess(calibration, 0, nullptr))
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  const auto merge_start = now();
  while (Exists(out)) std::this_thread::sleep_for(std::chrono::microseconds(100));
  const double merge_ms =
      std::max(1.0, std::chrono::duration<double, std::milli>(now() - merge_start).count());
  int code = -1;
  ASSERT_TRUE(WaitChild(calibration, kBoundMs, &code));
  ASSERT_EQ(code, 0);
  ASSERT_EQ(Digest("K.dic"), want_new);
  std::printf("merge output lived %.1f ms\n", merge_ms);

  int old_seen = 0, new_seen = 0, leftovers_seen = 0;
  // The range of the delays follows what the kills find: a kill that came
  // after the merge had ended halves it, one that came in the middle widens
  // it again, so that a calibration slowed by a busy machine still lets
  // kills land inside later, faster merges.
  const double widest_ms = 2.5 * merge_ms;
  double bound_ms = widest_ms;
  const std::string seed_note = "seed 20261208";
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE(seed_note + ", kill " + std::to_string(kill));
    const win::DWORD service_pid = service->ServiceProcessId();
    if (kill > 0) {
      // The next start removed what the last kill left.
      EXPECT_FALSE(Exists(out));
      EXPECT_FALSE(Exists(updates));
    }
    std::filesystem::copy_file(pristine, DicPath("K.dic"),
                               std::filesystem::copy_options::overwrite_existing);
    const win::DWORD child = update();
    while (!Exists(out) && !win::WaitChildProcess(child, 0, nullptr))
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
        std::uniform_real_distribution<double>(0, bound_ms)(random)));
    ASSERT_TRUE(win::KillProcess(service_pid, true));
    EXPECT_TRUE(WaitChild(child, kBoundMs, nullptr));
    // The killed service's window goes with it; wait until it is gone.
    while (win::ProcessAlive(service_pid))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    service.reset();
    const bool leftovers = Exists(out) || Exists(updates);
    if (leftovers) ++leftovers_seen;

    const std::string digest = Digest("K.dic");
    if (digest == want_old) {
      ++old_seen;
      bound_ms = std::min(widest_ms, bound_ms * 1.5);
    } else if (digest == want_new) {
      ++new_seen;
      if (!leftovers) bound_ms = std::max(1.0, bound_ms / 2);
    } else {
      ADD_FAILURE() << "the dictionary is neither the old file nor the new one";
      break;
    }
    service = StartService();
  }
  std::printf("after %d kills: old file %d times, new file %d times, leftovers %d times\n", kKills,
              old_seen, new_seen, leftovers_seen);
  EXPECT_EQ(old_seen + new_seen, kKills);
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(leftovers_seen, 0);
}

}  // namespace
}  // namespace vandrel::test
