// Word lookups in a compiled dictionary:
//   exact     FindExact of random headwords of the file;
//   nearest   FindNearest of the same keys;
//   floor     std::lower_bound with CompareWords over the same words held in
//             memory as wide strings (what no file format can beat);
// and the resident memory the reader adds: after Open, and after 10,000
// random lookups (anonymous memory holds the descrambled private copies of
// a scrambled file, file memory the mapped pages of a plain one).
// Usage: dic_lookup_bench [FILE.dic ...] [--words N] [--lookups N]
// Rates are per second of processor time, the best of three runs of N
// lookups (100,000 by default).
// Without files it compiles a synthetic dictionary of N words (200,000 by
// default) twice, plain and scrambled, both compressed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/dic_table.h"
#include "dictionary/vocab_compiler.h"

namespace {

using vandrel::CompareWords;
using vandrel::TDicTable;
using vandrel::WideString;

struct TMemory {
  long rss_kb = 0;
  long anon_kb = 0;
  long file_kb = 0;
};

TMemory Resident() {
  TMemory m;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    const auto value = [&] { return std::atol(line.c_str() + line.find(':') + 1); };
    if (line.rfind("VmRSS:", 0) == 0) m.rss_kb = value();
    if (line.rfind("RssAnon:", 0) == 0) m.anon_kb = value();
    if (line.rfind("RssFile:", 0) == 0) m.file_kb = value();
  }
  return m;
}

void Compile(const std::string& path, std::size_t count, bool scrambled) {
  std::mt19937 random(42);
  const char* syllables[] = {"ka", "ri",  "to", "men", "sel", "an", "o",  "u",  "tra", "ver",
                             "is", "ble", "ng", "ch",  "ta",  "lo", "qu", "es", "pri", "da"};
  std::vector<WideString> words;
  const auto by_word = [](const WideString& a, const WideString& b) {
    return CompareWords(a, b) < 0;
  };
  const auto same = [](const WideString& a, const WideString& b) {
    return CompareWords(a, b) == 0;
  };
  while (words.size() < count) {
    for (std::size_t n = words.size(); n < count + count / 4; ++n) {
      std::string w;
      const int parts = 1 + static_cast<int>(random() % 5);
      for (int k = 0; k < parts; ++k) w += syllables[random() % 20];
      for (int k = static_cast<int>(random() % 4); k > 0; --k)
        w += static_cast<char>('a' + random() % 26);
      if (random() % 9 == 0) w[0] = static_cast<char>(w[0] - 32);
      words.emplace_back(w.begin(), w.end());
    }
    std::sort(words.begin(), words.end(), by_word);
    words.erase(std::unique(words.begin(), words.end(), same), words.end());
  }
  // An even sample of the sorted list, so that every region stays.
  std::vector<WideString> chosen;
  for (std::size_t i = 0; i < count; ++i) chosen.push_back(words[i * words.size() / count]);
  words.swap(chosen);
  vandrel::TVocabCompiler compiler;
  compiler.SetTransLanguage(1049);
  compiler.SetScrambled(scrambled);
  compiler.SetCompressed(true);
  compiler.BeginCompile(path);
  for (std::size_t i = 0; i < words.size(); ++i) {
    WideString t = u"\x05" + words[i] + u"\x05 \u0441\u043b\u043e\u0432\u043e";
    for (std::size_t k = 0; k < i % 7; ++k)
      t += u"\r\u0437\u043d\u0430\u0447\u0435\u043d\u0438\u0435 " + words[i];
    compiler.AddWord(words[i], t);
  }
  compiler.EndCompile();
}

// Lookups per second of processor time over the keys in turn; the best of
// three runs, so that a busy machine disturbs the figures less.
template <class F>
double PerSecond(const std::vector<WideString>& keys, std::size_t lookups, F&& lookup) {
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    std::size_t found = 0;
    const std::clock_t start = std::clock();
    for (std::size_t i = 0; i < lookups; ++i) found += lookup(keys[i % keys.size()]) ? 1 : 0;
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (found == 0 && lookups > 0) std::printf("  (no key found)\n");
    best = std::max(best, static_cast<double>(lookups) / seconds);
  }
  return best;
}

void Measure(const std::string& path, std::size_t lookups) {
  // The headwords, read once by a table that is closed again before the
  // memory figures are taken.
  std::vector<WideString> words;
  bool scrambled = false;
  {
    TDicTable table;
    table.FileName = path;
    table.Open();
    scrambled = table.Scrambled();
    words.reserve(static_cast<std::size_t>(table.RecordCount()));
    for (table.First(); !table.Eof(); table.Next()) words.push_back(table.GetWord());
  }
  if (words.empty()) {
    std::printf("%s: empty dictionary\n", path.c_str());
    return;
  }
  std::mt19937 random(7);
  std::vector<WideString> keys;
  for (std::size_t i = 0; i < 100000; ++i) keys.push_back(words[random() % words.size()]);

  const TMemory base = Resident();
  TDicTable table;
  table.FileName = path;
  table.Open();
  const TMemory opened = Resident();
  for (std::size_t i = 0; i < 10000; ++i) table.FindExact(keys[i]);
  const TMemory looked_up = Resident();

  const double exact =
      PerSecond(keys, lookups, [&](const WideString& k) { return table.FindExact(k); });
  const double nearest = PerSecond(keys, lookups, [&](const WideString& k) {
    table.FindNearest(k);
    return true;
  });
  const double floor = PerSecond(keys, lookups, [&](const WideString& k) {
    auto it = std::lower_bound(
        words.begin(), words.end(), k,
        [](const WideString& a, const WideString& b) { return CompareWords(a, b) < 0; });
    return it != words.end() && CompareWords(*it, k) == 0;
  });

  std::printf("%s: %zu words, %u index layers, %s, %.1f MiB\n", path.c_str(), words.size(),
              table.LayerCount(), scrambled ? "scrambled" : "plain",
              static_cast<double>(table.FileSize()) / (1 << 20));
  std::printf("  FindExact     %10.0f /s\n", exact);
  std::printf("  FindNearest   %10.0f /s\n", nearest);
  std::printf("  lower_bound   %10.0f /s  (floor; a FindExact takes %.2f times as long)\n", floor,
              floor / exact);
  std::printf("  resident after Open           +%ld KiB (anon +%ld, file +%ld)\n",
              opened.rss_kb - base.rss_kb, opened.anon_kb - base.anon_kb,
              opened.file_kb - base.file_kb);
  std::printf("  resident after 10,000 lookups +%ld KiB (anon +%ld, file +%ld)\n",
              looked_up.rss_kb - base.rss_kb, looked_up.anon_kb - base.anon_kb,
              looked_up.file_kb - base.file_kb);
}

// The table's hidden window needs a session namespace: use a private one.
std::filesystem::path PrivateFolder() {
  std::random_device random;
  auto dir =
      std::filesystem::temp_directory_path() / ("vandrel-lookup-bench-" + std::to_string(random()));
  std::filesystem::create_directories(dir / "runtime");
  std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  if (!std::getenv("VANDREL_RUNTIME_DIR"))
    setenv("VANDREL_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::size_t count = 200000;
  std::size_t lookups = 100000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--words" && i + 1 < argc)
      count = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--lookups" && i + 1 < argc)
      lookups = std::strtoul(argv[++i], nullptr, 10);
    else
      files.push_back(a);
  }
  const auto folder = PrivateFolder();
  int status = 0;
  try {
    if (files.empty()) {
      for (bool scrambled : {false, true}) {
        const std::string path =
            (folder / (scrambled ? "synthetic-scrambled.dic" : "synthetic.dic")).string();
        Compile(path, count, scrambled);
        files.push_back(path);
      }
    }
    for (const auto& f : files) Measure(f, lookups);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dic_lookup_bench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return status;
}
