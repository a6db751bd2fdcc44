// Lookups through the service against the same lookups on the tables in
// this process.
//   service   a typed word sent as CR_LOCATE, then CR_GET_TRANS for every
//             base that holds the word it lands on: one client, one
//             connection, a base set with the given dictionaries open;
//   lookup    the same as one CR_LOOKUP (TCursorClient::LookupWord);
//   direct    the same words on TDicTable objects of the same files opened
//             here: FindNearest on every table, GetTrans where the word is
//             the one sought;
// each timed one lookup at a time (median, 99th percentile, lookups per
// second of wall time), with the cost of the service as their ratio.
// --memory instead opens the dictionaries and prints the service's resident
// memory before they are opened, once they are, and after the lookups.
// --hold FILE only keeps a client connected (so that the service runs for
// other programs) until FILE is removed.
//
// Usage: lookup_service_bench --dir DIR [--lookups N] [--memory] FILE.dic...
//        lookup_service_bench --dir DIR --hold FILE
// The service is started (or found) like by any client: VANDREL_SERVICE
// names the program, DIR is passed as its dictionary folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/message_pump.h"
#include "client/service_connection.h"
#include "dictionary/charmap.h"
#include "dictionary/dic_table.h"

namespace {

using namespace vandrel;
using Clock = std::chrono::steady_clock;

struct TOptions {
  std::string dir;
  std::vector<std::string> files;
  std::size_t lookups = 10000;
  bool memory = false;
  std::string hold;
};

struct TMemory {
  long rss_kb = 0;
  long anon_kb = 0;
  long file_kb = 0;
};

TMemory ProcessMemory(win::DWORD pid) {
  TMemory m;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    const auto value = [&] { return std::atol(line.c_str() + line.find(':') + 1); };
    if (line.rfind("VmRSS:", 0) == 0) m.rss_kb = value();
    if (line.rfind("RssAnon:", 0) == 0) m.anon_kb = value();
    if (line.rfind("RssFile:", 0) == 0) m.file_kb = value();
  }
  return m;
}

void PrintMemory(const char* when, const TMemory& m) {
  std::printf("  %-34s %8ld KiB  (anonymous %ld, file %ld)\n", when, m.rss_kb, m.anon_kb,
              m.file_kb);
}

// Words drawn evenly from the records of all files (seeded: every run asks
// the same words).
std::vector<WideString> SampleWords(const TOptions& o) {
  std::vector<std::unique_ptr<TDicTable>> tables;
  for (const std::string& f : o.files) {
    tables.push_back(std::make_unique<TDicTable>());
    tables.back()->FileName = o.dir + "/" + f;
    tables.back()->Open();
  }
  std::mt19937 random(7);
  std::vector<WideString> words;
  while (words.size() < o.lookups) {
    TDicTable& t = *tables[random() % tables.size()];
    if (t.RecordCount() == 0) continue;
    t.SetRecNo(static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(t.RecordCount())));
    words.push_back(t.GetWord());
  }
  return words;
}

struct TTimes {
  std::vector<double> us;
  double total_s = 0;
  std::size_t translations = 0;
  std::size_t chars = 0;
};

void Report(const char* name, TTimes& t) {
  std::sort(t.us.begin(), t.us.end());
  const double median = t.us[t.us.size() / 2];
  const double p99 = t.us[std::min(t.us.size() - 1, t.us.size() * 99 / 100)];
  std::printf(
      "  %-8s median %8.2f us   p99 %8.2f us   %10.0f lookups/s   (%zu translations, %zu chars)\n",
      name, median, p99, static_cast<double>(t.us.size()) / t.total_s, t.translations, t.chars);
}

template <class F>
TTimes Time(const std::vector<WideString>& words, F&& lookup) {
  TTimes t;
  t.us.reserve(words.size());
  // Warm-up: the pages of the files, the service's buffers.
  for (std::size_t i = 0; i < std::min<std::size_t>(words.size(), 1000); ++i) lookup(words[i], t);
  t.translations = t.chars = 0;
  const auto start = Clock::now();
  for (const WideString& w : words) {
    const auto a = Clock::now();
    lookup(w, t);
    t.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
  }
  t.total_s = std::chrono::duration<double>(Clock::now() - start).count();
  return t;
}

// Connected until the file is gone; answers the service's client check
// meanwhile.
int Hold(const TOptions& o) {
  client::TClientOptions co;
  co.Name = "lookup_service_bench --hold";
  co.ServiceArgs = {o.dir};
  client::TServiceConnection connection(co);
  client::PumpMessagesUntil([&] { return !std::filesystem::exists(o.hold); }, -1);
  return 0;
}

int Run(const TOptions& o) {
  if (!o.hold.empty()) return Hold(o);
  const std::vector<WideString> words = SampleWords(o);

  client::TClientOptions co;
  co.Name = "lookup_service_bench";
  co.ServiceArgs = {o.dir};
  client::TServiceConnection connection(co);
  const win::DWORD pid = connection.ServiceProcessId();
  TOwnedPtr<client::TBaseManClient> base_man(
      new client::TBaseManClient(connection.BaseManWindow()));
  TOwnedPtr<client::TBaseSetClient> set = base_man->NewBaseSet();

  const TMemory before = ProcessMemory(pid);
  for (const std::string& f : o.files) {
    set->OpenBase(std::u16string(f.begin(), f.end()));
  }
  client::TCursorClient& cursor = set->NewCursor();
  const TMemory opened = ProcessMemory(pid);

  const auto through_service = [&](const WideString& w, TTimes& t) {
    cursor.Locate(w);
    for (const win::HWND base : cursor.State().Bases) {
      t.chars += cursor.GetTrans(base).size();
      ++t.translations;
    }
  };
  const auto one_request = [&](const WideString& w, TTimes& t) {
    for (const client::TBaseTranslation& tr : cursor.LookupWord(w).Translations) {
      t.chars += tr.Text.size();
      ++t.translations;
    }
  };
  if (o.memory) {
    Time(words, through_service);
    const TMemory after = ProcessMemory(pid);
    std::printf("service resident memory, %zu dictionaries (process %u):\n", o.files.size(),
                static_cast<unsigned>(pid));
    PrintMemory("connected, nothing open", before);
    PrintMemory("dictionaries open", opened);
    PrintMemory(("after " + std::to_string(o.lookups) + " lookups").c_str(), after);
    return 0;
  }

  std::vector<std::unique_ptr<TDicTable>> tables;
  for (const std::string& f : o.files) {
    tables.push_back(std::make_unique<TDicTable>());
    tables.back()->FileName = o.dir + "/" + f;
    tables.back()->Open();
  }
  const auto direct = [&](const WideString& w, TTimes& t) {
    for (auto& table : tables) {
      if (table->RecordCount() == 0) continue;
      table->FindNearest(w);
      if (CompareWords(table->GetWord(), w) == 0) {
        t.chars += table->GetTrans().size();
        ++t.translations;
      }
    }
  };

  std::printf("%zu lookups of words drawn from %zu dictionaries:", o.lookups, o.files.size());
  for (const std::string& f : o.files) std::printf(" %s", f.c_str());
  std::printf("\n");
  TTimes service = Time(words, through_service);
  TTimes one = Time(words, one_request);
  TTimes local = Time(words, direct);
  Report("service", service);
  Report("lookup", one);
  Report("direct", local);
  std::printf("  (service: CR_LOCATE + CR_GET_TRANS each; lookup: one CR_LOOKUP)\n");
  std::printf("  the service costs %.1fx the direct lookup (medians), %.1fx (rates)\n",
              service.us[service.us.size() / 2] / local.us[local.us.size() / 2],
              (static_cast<double>(local.us.size()) / local.total_s) /
                  (static_cast<double>(service.us.size()) / service.total_s));
  std::printf("  one CR_LOOKUP costs %.1fx the direct lookup (medians)\n",
              one.us[one.us.size() / 2] / local.us[local.us.size() / 2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) {
      o.dir = argv[++i];
    } else if (a == "--lookups" && i + 1 < argc) {
      o.lookups = std::strtoul(argv[++i], nullptr, 10);
    } else if (a == "--hold" && i + 1 < argc) {
      o.hold = argv[++i];
    } else if (a == "--memory") {
      o.memory = true;
    } else if (!a.empty() && a[0] != '-') {
      o.files.push_back(a);
    } else {
      std::fprintf(stderr,
                   "usage: lookup_service_bench --dir DIR [--lookups N] [--memory] FILE.dic...\n");
      return 2;
    }
  }
  if (o.dir.empty() || (o.files.empty() && o.hold.empty()) || o.lookups == 0) {
    std::fprintf(stderr,
                 "usage: lookup_service_bench --dir DIR [--lookups N] [--memory] FILE.dic...\n");
    return 2;
  }
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lookup_service_bench: %s\n", e.what());
    return 1;
  }
}
