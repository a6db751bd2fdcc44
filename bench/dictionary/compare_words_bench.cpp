// The word order on real words: time per CompareWords call
//   neighbours     each word against the next in dictionary order (long
//                  shared prefixes, as in a page's binary search);
//   random pairs   words drawn at random (most differ in the first letters);
//   lookup         a whole binary search of the sorted list for each word;
//   locale compare the table engine's CompareStringA on the same words in
//                  the 1252 code page (conversion included).
// Usage: compare_words_bench [--words FILE] [benchmark flags]
// FILE holds one UTF-8 word a line; without one, words are generated.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "platform/nls.h"

namespace {

using vandrel::WideString;

std::vector<WideString> g_words;      // sorted by CompareWords
std::vector<std::string> g_ansi;      // the same words in code page 1252
std::vector<std::size_t> g_shuffled;  // a random order of indexes

WideString FromUtf8(const std::string& s) {
  if (s.empty()) return {};
  WideString w(s.size(), u'\0');
  const int n = vandrel::win::MultiByteToWideChar(vandrel::win::CP_UTF8, 0, s.data(),
                                                  static_cast<int>(s.size()), w.data(),
                                                  static_cast<int>(w.size()));
  w.resize(static_cast<std::size_t>(n));
  return w;
}

std::vector<WideString> GeneratedWords() {
  static const char* const kSyllables[] = {"ka", "ber",  "st",  "an",  "ne", "lo",  "ri",  "tur",
                                           "ge", "ment", "ion", "Sch", "al", "ver", "ung", "ed"};
  std::mt19937 rng(3);
  std::vector<WideString> words;
  for (int i = 0; i < 100000; ++i) {
    std::string w;
    const int parts = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < parts; ++k) w += kSyllables[rng() % std::size(kSyllables)];
    words.push_back(FromUtf8(w));
  }
  return words;
}

void Load(const std::string& path) {
  if (!path.empty()) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty()) g_words.push_back(FromUtf8(line));
    }
  }
  if (g_words.empty()) g_words = GeneratedWords();
  std::stable_sort(g_words.begin(), g_words.end(), [](const WideString& a, const WideString& b) {
    return vandrel::CompareWords(a, b) < 0;
  });
  for (const WideString& w : g_words) {
    std::string s;
    vandrel::WideToAnsi(0x0409, w, s);
    g_ansi.push_back(std::move(s));
  }
  g_shuffled.resize(g_words.size());
  for (std::size_t i = 0; i < g_shuffled.size(); ++i) g_shuffled[i] = i;
  std::shuffle(g_shuffled.begin(), g_shuffled.end(), std::mt19937(9));
}

void PerComparison(benchmark::State& state, std::int64_t comparisons) {
  state.counters["per_compare"] = benchmark::Counter(
      static_cast<double>(comparisons),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["words"] = static_cast<double>(g_words.size());
}

void BM_Neighbours(benchmark::State& state) {
  for (auto _ : state) {
    int sum = 0;
    for (std::size_t i = 1; i < g_words.size(); ++i)
      sum += vandrel::CompareWords(g_words[i - 1], g_words[i]);
    benchmark::DoNotOptimize(sum);
  }
  PerComparison(state, static_cast<std::int64_t>(g_words.size() - 1));
}

void BM_RandomPairs(benchmark::State& state) {
  for (auto _ : state) {
    int sum = 0;
    for (std::size_t i = 1; i < g_shuffled.size(); ++i) {
      sum += vandrel::CompareWords(g_words[g_shuffled[i - 1]], g_words[g_shuffled[i]]);
    }
    benchmark::DoNotOptimize(sum);
  }
  PerComparison(state, static_cast<std::int64_t>(g_shuffled.size() - 1));
}

void BM_Lookup(benchmark::State& state) {
  const std::size_t lookups = std::min<std::size_t>(g_shuffled.size(), 20000);
  std::int64_t comparisons = 0;
  for (auto _ : state) {
    comparisons = 0;
    std::size_t found = 0;
    for (std::size_t k = 0; k < lookups; ++k) {
      const WideString& key = g_words[g_shuffled[k]];
      std::size_t lo = 0, hi = g_words.size();
      while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        ++comparisons;
        if (vandrel::CompareWords(g_words[mid], key) < 0) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      found += lo;
    }
    benchmark::DoNotOptimize(found);
  }
  PerComparison(state, comparisons);
}

void BM_LocaleCompare(benchmark::State& state) {
  for (auto _ : state) {
    int sum = 0;
    for (std::size_t i = 1; i < g_ansi.size(); ++i) {
      const std::string& a = g_ansi[i - 1];
      const std::string& b = g_ansi[i];
      sum += vandrel::win::CompareStringA(0x0409, vandrel::win::NORM_IGNORENONSPACE, a.data(),
                                          static_cast<int>(a.size()), b.data(),
                                          static_cast<int>(b.size()));
    }
    benchmark::DoNotOptimize(sum);
  }
  PerComparison(state, static_cast<std::int64_t>(g_ansi.size() - 1));
}

BENCHMARK(BM_Neighbours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomPairs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocaleCompare)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::string words;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--words") == 0 && i + 1 < argc) {
      words = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  Load(words);
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
