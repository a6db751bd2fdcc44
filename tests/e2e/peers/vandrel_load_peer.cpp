// A client program that loads the service the way many users at once do,
// and checks every answer. Each session connects to the session's service
// (starting none), makes a base set, opens the given dictionaries, makes a
// cursor, then for each lookup locates a word, reads its translation in
// every base that holds it, and walks a page of the following words; then
// it closes everything and disconnects.
//
//   vandrel_load_peer SESSIONS LOOKUPS PAGE WORDS [--times FILE] DIC...
//
// The dictionaries hold the words "w00000" .. "w<WORDS-1>" (five digits),
// and the translation of a word in DIC is "<word> in <DIC>", so that every
// answer can be checked against what it must be: the located word, the
// bases that hold it (each DIC) and each base's translation, and each word
// of the page. --times appends one line per request to FILE: its duration
// in microseconds.
//
// Prints "requests R errors E wrong W" and exits 0 when E and W are 0, 1
// otherwise, 2 on a bad command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/service_connection.h"
#include "client/service_error.h"
#include "platform/process.h"
#include "platform/unique_handle.h"

namespace vandrel::loadpeer {
namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string WordOf(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "w%05d", i);
  return buf;
}

struct TStats {
  long requests = 0;
  long errors = 0;
  long wrong = 0;
  win::UniqueStdFile times;  // --times FILE, empty without
};

// Times one request and counts it.
template <class F>
decltype(auto) Timed(TStats& stats, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  struct TRecord {
    TStats& stats;
    std::chrono::steady_clock::time_point start;
    ~TRecord() {
      ++stats.requests;
      if (stats.times) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        std::fprintf(stats.times.get(), "%lld\n", static_cast<long long>(us));
      }
    }
  } record{stats, start};
  return f();
}

void Wrong(TStats& stats, const std::string& what) {
  ++stats.wrong;
  std::fprintf(stderr, "vandrel_load_peer %d: wrong answer: %s\n",
               static_cast<int>(win::GetCurrentProcessId()), what.c_str());
}

void Session(TStats& stats, int lookups, int page, int words, const std::vector<std::string>& dics,
             std::mt19937& random) {
  client::TClientOptions options;
  options.Name = "load peer";
  options.StartService = false;
  client::TServiceConnection connection(options);
  const win::HWND base_man_window = Timed(stats, [&] { return connection.BaseManWindow(); });
  TOwnedPtr<client::TBaseManClient> base_man(new client::TBaseManClient(base_man_window));
  TOwnedPtr<client::TBaseSetClient> set = Timed(stats, [&] { return base_man->NewBaseSet(); });
  std::map<win::HWND, std::string> names;
  for (const std::string& dic : dics) {
    client::TBaseClient& base =
        Timed(stats, [&]() -> client::TBaseClient& { return set->OpenBase(Ascii(dic + ".dic")); });
    names[base.Remote()] = dic;
  }
  if (set->BaseWindows().size() != dics.size()) Wrong(stats, "base list of the set");
  client::TCursorClient& cursor =
      Timed(stats, [&]() -> client::TCursorClient& { return set->NewCursor(); });
  std::uniform_int_distribution<int> pick(0, words - 1);
  for (int l = 0; l < lookups; ++l) {
    const int index = pick(random);
    const std::string word = WordOf(index);
    const bool found = Timed(stats, [&] { return cursor.Locate(Ascii(word)); });
    const client::TCursorState state = cursor.State();
    if (!found || Narrow(state.Word) != word) {
      Wrong(stats, "locate " + word + " gave " + Narrow(state.Word));
      continue;
    }
    if (state.Bases.size() != dics.size()) Wrong(stats, "bases holding " + word);
    for (const win::HWND base : state.Bases) {
      auto name = names.find(base);
      if (name == names.end()) {
        Wrong(stats, "unknown base window for " + word);
        continue;
      }
      const std::u16string trans = Timed(stats, [&] { return cursor.GetTrans(base); });
      const std::string expected = word + " in " + name->second;
      if (Narrow(trans).find(expected) == std::string::npos) {
        Wrong(stats, "translation of " + word + " in " + name->second + ": " + Narrow(trans));
      }
    }
    for (int p = 1; p < page && index + p < words; ++p) {
      const bool moved = Timed(stats, [&] { return cursor.Next(); });
      if (!moved || Narrow(cursor.State().Word) != WordOf(index + p)) {
        Wrong(stats,
              "next after " + WordOf(index + p - 1) + " gave " + Narrow(cursor.State().Word));
        break;
      }
    }
  }
  Timed(stats, [&] {
    set->Close();
    return 0;
  });
  Timed(stats, [&] {
    connection.Disconnect();
    return 0;
  });
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 5) return 2;
  const int sessions = std::atoi(args[0].c_str());
  const int lookups = std::atoi(args[1].c_str());
  const int page = std::atoi(args[2].c_str());
  const int words = std::atoi(args[3].c_str());
  if (sessions < 1 || lookups < 0 || page < 1 || words < 1) return 2;
  TStats stats;
  std::vector<std::string> dics;
  for (std::size_t i = 4; i < args.size(); ++i) {
    if (args[i] == "--times" && i + 1 < args.size()) {
      stats.times.reset(std::fopen(args[++i].c_str(), "a"));
      if (!stats.times) return 2;
      continue;
    }
    dics.push_back(args[i]);
  }
  if (dics.empty()) return 2;
  std::mt19937 random(static_cast<unsigned>(win::GetCurrentProcessId()));
  for (int s = 0; s < sessions; ++s) {
    try {
      Session(stats, lookups, page, words, dics, random);
    } catch (const client::EServiceError& e) {
      ++stats.errors;
      std::fprintf(stderr, "vandrel_load_peer %d: %s (error %d)\n",
                   static_cast<int>(win::GetCurrentProcessId()), e.Text().c_str(), e.Code());
    } catch (const std::exception& e) {
      ++stats.errors;
      std::fprintf(stderr, "vandrel_load_peer %d: %s\n",
                   static_cast<int>(win::GetCurrentProcessId()), e.what());
    }
  }
  stats.times.reset();
  std::printf("requests %ld errors %ld wrong %ld\n", stats.requests, stats.errors, stats.wrong);
  return stats.errors == 0 && stats.wrong == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vandrel::loadpeer

int main(int argc, char** argv) { return vandrel::loadpeer::Run(argc, argv); }
