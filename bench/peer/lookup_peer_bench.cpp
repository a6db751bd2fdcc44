// Lookups and word pages through the service beside dictd over the same
// dictionaries, in one run (bench/peer/run_lookup_peer.sh runs it):
//
//   lookup_peer_bench DIC_DIR DICTD_CONF WORDS
//
// DIC_DIR holds the compiled dictionaries, DICTD_CONF is a dictd
// configuration serving the same sources, WORDS a UTF-8 file of query
// words, one a line. It measures, each figure next to dictd's:
//   - start: the service started by a client until all its dictionaries
//     are open and the first lookup answered, vs dictd started until it
//     answers its first DEFINE (5 rounds each, median);
//   - a lookup in all dictionaries: CR_LOOKUP vs DEFINE * (and the same
//     lookup step by step, CR_LOCATE + CR_GET_TRANS per base);
//   - a 20-word page: CR_PAGE vs MATCH * prefix (dictd sends every match;
//     the first 20 are what a client shows);
//   - one empty request (CR_GET_POSITION), the floor of every request:
//     one message each way and no work;
//   - whole commands: `vandrel lookup W` vs `dict W`, `vandrel words P -n
//     20` vs `dict -m -s prefix P` (20 runs each, median);
//   - resident memory of both after 10,000 lookups.
// `lookup_peer_bench lookups DIC_DIR WORDS N` only runs N lookups, N
// 20-word pages and N empty requests (for a profiler) and prints their
// medians.
// Every process started here is stopped by its pid before it ends.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/message_pump.h"
#include "client/service_connection.h"
#include "client/service_launcher.h"
#include "platform/unique_handle.h"
#include "platform/window.h"
#include "tools/common/utf8.h"

extern char** environ;

using namespace vandrel;
using Clock = std::chrono::steady_clock;
using WideString = std::u16string;

namespace {

struct TFigures {
  double median = 0;
  double p99 = 0;
};

TFigures Summarise(std::vector<double> us) {
  if (us.empty()) return {};
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

double Elapsed(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::vector<WideString> ReadWords(const char* path) {
  std::ifstream in(path);
  std::vector<WideString> words;
  std::string line;
  while (std::getline(in, line)) {
    WideString w;
    if (!line.empty() && tools::Utf8ToWide(line, w)) words.push_back(w);
  }
  return words;
}

WideString Prefix(const WideString& w) { return w.substr(0, std::min<std::size_t>(4, w.size())); }

// Resident memory of a process in KiB (VmRSS), 0 when it is gone.
long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// User + system processor time of a process so far, microseconds.
double CpuUs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());
  return ticks * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The pids of a process's children.
std::vector<pid_t> Children(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  long child = 0;
  while (in >> child) children.push_back(static_cast<pid_t>(child));
  return children;
}

pid_t Spawn(const std::vector<std::string>& argv, bool quiet) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  if (pid == 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0].c_str());
    std::exit(1);
  }
  return pid;
}

// Runs a command to its end, output discarded; microseconds.
double TimeCommand(const std::vector<std::string>& argv) {
  const auto start = Clock::now();
  const pid_t pid = Spawn(argv, true);
  int status = 0;
  waitpid(pid, &status, 0);
  return Elapsed(start);
}

// One DICT connection: a request line, then the reply up to its final
// status line. Open fails (false) while nothing listens.
class TDictLink {
 public:
  bool Open(int port) {
    port_ = port;
    fd_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    const int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      fd_.reset();
      return false;
    }
    ReadLine();  // banner
    return true;
  }
  // Sends request; counts the text lines of the reply; returns the final
  // status code.
  int Ask(const std::string& request, std::size_t* lines = nullptr) {
    const std::string line = request + "\r\n";
    if (::send(fd_.get(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()) ||
        !closed_.empty()) {
      // dictd ends a connection after its own limits: a new one, the same
      // request.
      fd_.reset();
      buffer_.clear();
      closed_.clear();
      if (!Open(port_)) std::exit(1);
      return Ask(request, lines);
    }
    for (;;) {
      const std::string reply = ReadLine();
      if (!closed_.empty()) return Ask(request, lines);
      if (reply.size() < 4 || reply[3] != ' ' ||
          !std::isdigit(static_cast<unsigned char>(reply[0])))
        continue;
      const int code = std::atoi(reply.substr(0, 3).c_str());
      if (code == 150) continue;
      if (code == 151 || code == 152) {
        for (std::string l = ReadLine(); l != "." && closed_.empty(); l = ReadLine())
          if (lines != nullptr) ++*lines;
        if (!closed_.empty()) return Ask(request, lines);
        continue;
      }
      return code;
    }
  }

 private:
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = buffer_.find("\r\n", scan_);
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        scan_ = 0;
        return line;
      }
      scan_ = buffer_.empty() ? 0 : buffer_.size() - 1;
      char chunk[65536];
      // Acknowledged at once: a delayed acknowledgement would hold dictd's
      // next segment back for tens of milliseconds.
      const int one = 1;
      ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
      const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
      if (n <= 0) {
        closed_ = "closed";
        return {};
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  win::UniqueFd fd_;
  int port_ = 0;
  std::string buffer_;
  std::size_t scan_ = 0;
  std::string closed_;
};

int FreePort() {
  const win::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
  socklen_t len = sizeof at;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &len);
  return ntohs(at.sin_port);
}

// dictd's log and pid file go beside its configuration.
std::vector<std::string> DictdArgs(const std::string& conf, int port) {
  const std::string dir = conf.substr(0, conf.rfind('/') + 1);
  return {"dictd",          "-c",       conf,      "-p", std::to_string(port), "-d",
          "nodetach",       "--locale", "C.UTF-8", "-L", dir + "dictd.log",    "--pid-file",
          dir + "dictd.pid"};
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

void WaitForNoService() {
  for (int i = 0; i < 5000 && client::FindManagerWindow() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

pid_t ServicePid() {
  win::DWORD pid = 0;
  if (const win::HWND manager = client::FindManagerWindow())
    win::GetWindowThreadProcessId(manager, &pid);
  return static_cast<pid_t>(pid);
}

struct TServiceSide {
  std::unique_ptr<client::TServiceConnection> connection;
  TOwnedPtr<client::TBaseManClient> base_man;
  TOwnedPtr<client::TBaseSetClient> set;
  client::TCursorClient* cursor = nullptr;
};

// A client that starts the service on dic_dir and opens every dictionary.
TServiceSide StartService(const std::string& dic_dir) {
  TServiceSide s;
  client::TClientOptions options;
  options.Name = "lookup_peer_bench";
  options.ServiceArgs = {dic_dir};
  s.connection = std::make_unique<client::TServiceConnection>(options);
  s.base_man.reset(new client::TBaseManClient(s.connection->BaseManWindow()));
  s.set = s.base_man->NewBaseSet();
  for (const auto& f : s.set->ListFiles()) s.set->OpenBase(f);
  s.cursor = &s.set->NewCursor();
  return s;
}

void Row(const char* label, double ours, double peer, const char* unit) {
  std::printf("  %-34s %11.1f %11.1f %9.2fx   %s\n", label, ours, peer, peer / ours, unit);
}

// Passes over the words for the lookup, page, DEFINE and MATCH figures.
constexpr int kPasses = 5;

int Run(const std::string& dic_dir, const std::string& conf, const std::vector<WideString>& words) {
  if (words.empty()) return 2;
  std::printf("%-36s %11s %11s %10s\n", "figure", "Vandrel", "dictd", "ratio");

  // Start: 5 rounds each.
  std::vector<double> ours_start, peer_start;
  for (int round = 0; round < 5; ++round) {
    WaitForNoService();
    const auto start = Clock::now();
    {
      TServiceSide s = StartService(dic_dir);
      s.cursor->LookupWord(words[0]);
      ours_start.push_back(Elapsed(start));
      s.set->Close();
    }
    const int port = FreePort();
    const auto peer_begin = Clock::now();
    const pid_t dictd = Spawn(DictdArgs(conf, port), true);
    TDictLink link;
    while (!link.Open(port)) std::this_thread::sleep_for(std::chrono::microseconds(200));
    link.Ask("DEFINE * \"" + tools::WideToUtf8(words[0]) + "\"");
    peer_start.push_back(Elapsed(peer_begin));
    Stop(dictd);
  }
  WaitForNoService();
  Row("start, dictionaries open (ms)", Summarise(ours_start).median / 1000,
      Summarise(peer_start).median / 1000, "median of 5");

  // The service and dictd for the rest, on the same sources.
  TServiceSide s = StartService(dic_dir);
  client::TCursorClient& cursor = *s.cursor;
  const pid_t service = ServicePid();
  const int port = FreePort();
  const pid_t dictd = Spawn(DictdArgs(conf, port), true);
  TDictLink link;
  while (!link.Open(port)) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  // Warm both up once over the words.
  for (const WideString& w : words) {
    cursor.LookupWord(w);
    link.Ask("DEFINE * \"" + tools::WideToUtf8(w) + "\"");
  }

  // Each kind of request in a loop of its own over the words, so that no
  // figure pays for the other side's wake-up. The one-request kinds and
  // dictd's run kPasses passes each: one pass of 200 requests on this
  // kind of virtual machine swings with where the two processes run and
  // what the host does, and the median of five passes much less.
  std::vector<double> lookup, steps, define, page, page_steps, match;
  std::size_t translations = 0, definitions = 0, matches = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    for (const WideString& w : words) {
      const auto start = Clock::now();
      const client::TLookupAnswer a = cursor.LookupWord(w);
      lookup.push_back(Elapsed(start));
      if (pass == 0) translations += a.Translations.size();
    }
  }
  for (const WideString& w : words) {
    const auto start = Clock::now();
    cursor.Locate(w);
    for (win::HWND base : std::vector<win::HWND>(cursor.State().Bases)) cursor.GetTrans(base);
    steps.push_back(Elapsed(start));
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    for (const WideString& w : words) {
      const std::string request = "DEFINE * \"" + tools::WideToUtf8(w) + "\"";
      std::size_t lines = 0;
      const auto start = Clock::now();
      link.Ask(request, &lines);
      define.push_back(Elapsed(start));
      if (pass == 0) definitions += lines > 0 ? 1 : 0;
    }
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    for (const WideString& w : words) {
      const WideString prefix = Prefix(w);
      const auto start = Clock::now();
      cursor.Page(20, client::TPageStart::FromLocate, false, prefix);
      page.push_back(Elapsed(start));
    }
  }
  for (const WideString& w : words) {
    const WideString prefix = Prefix(w);
    const auto start = Clock::now();
    if (cursor.Locate(prefix))
      for (int i = 1; i < 20 && cursor.Next(); ++i) {
      }
    page_steps.push_back(Elapsed(start));
  }
  // The floor of any request: one message each way, no work.
  std::vector<double> empty;
  for (std::size_t i = 0; i < kPasses * words.size(); ++i) {
    const auto start = Clock::now();
    cursor.GetPosition();
    empty.push_back(Elapsed(start));
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    for (const WideString& w : words) {
      const std::string request = "MATCH * prefix \"" + tools::WideToUtf8(Prefix(w)) + "\"";
      std::size_t lines = 0;
      const auto start = Clock::now();
      link.Ask(request, &lines);
      match.push_back(Elapsed(start));
      if (pass == 0) matches += lines;
    }
  }
  const TFigures fl = Summarise(lookup), fs = Summarise(steps), fd = Summarise(define);
  const TFigures fp = Summarise(page), fps = Summarise(page_steps), fm = Summarise(match);
  Row("lookup, all dictionaries (us)", fl.median, fd.median, "median: CR_LOOKUP vs DEFINE *");
  Row("  p99 (us)", fl.p99, fd.p99, "");
  Row("  step by step (us)", fs.median, fd.median, "median: CR_LOCATE + CR_GET_TRANS each");
  Row("20-word page (us)", fp.median, fm.median, "median: CR_PAGE vs MATCH * prefix");
  Row("  p99 (us)", fp.p99, fm.p99, "");
  Row("  step by step (us)", fps.median, fm.median, "median: CR_LOCATE + 19 x CR_NEXT");
  std::printf("  %-34s %11.1f %35s\n", "one empty request (us)", Summarise(empty).median,
              "median: CR_GET_POSITION, no work");
  std::printf(
      "  (%zu words, %d passes for the medians above but the step-by-step ones;\n"
      "   %.1f translations a lookup; dictd: %zu of them defined, %.1f\n"
      "   matches a MATCH, 4 letters of the word as the prefix)\n",
      words.size(), kPasses, static_cast<double>(translations) / words.size(), definitions,
      static_cast<double>(matches) / words.size());

  // Whole commands, the service running: 20 runs each.
  const std::string bin = VANDREL_BENCH_BIN;
  const std::string word8 = tools::WideToUtf8(words[words.size() / 2]);
  const std::string prefix8 = tools::WideToUtf8(Prefix(words[words.size() / 2]));
  const std::string p = std::to_string(port);
  std::vector<double> c1, c2, c3, c4;
  for (int i = 0; i < 20; ++i) {
    c1.push_back(TimeCommand({bin + "/vandrel", "lookup", word8}));
    c2.push_back(TimeCommand({"dict", "-h", "127.0.0.1", "-p", p, word8}));
    c3.push_back(TimeCommand({bin + "/vandrel", "words", prefix8, "-n", "20"}));
    c4.push_back(TimeCommand({"dict", "-h", "127.0.0.1", "-p", p, "-m", "-s", "prefix", prefix8}));
    client::ProcessMessages();
  }
  Row("`vandrel lookup` vs `dict` (ms)", Summarise(c1).median / 1000, Summarise(c2).median / 1000,
      ("median of 20, \"" + word8 + "\"").c_str());
  Row("`vandrel words -n 20` vs `dict -m` (ms)", Summarise(c3).median / 1000,
      Summarise(c4).median / 1000, ("median of 20, \"" + prefix8 + "\"").c_str());

  // Resident memory after 10,000 lookups each; the processor time the
  // service and this client spent on the service's.
  const double service_cpu = CpuUs(service), own_cpu = CpuUs(getpid());
  const auto wall = Clock::now();
  for (int i = 0; i < 10000; ++i)
    cursor.LookupWord(words[static_cast<std::size_t>(i) % words.size()]);
  const double per_lookup = Elapsed(wall) / 10000;
  const double service_per = (CpuUs(service) - service_cpu) / 10000;
  const double own_per = (CpuUs(getpid()) - own_cpu) / 10000;
  // The service's pings are answered between dictd's requests: a client
  // that stays silent for seconds counts as gone.
  for (int i = 0; i < 10000; ++i) {
    if (i % 100 == 0) client::ProcessMessages();
    link.Ask("DEFINE * \"" + tools::WideToUtf8(words[static_cast<std::size_t>(i) % words.size()]) +
             "\"");
  }
  std::printf(
      "  10,000 lookups: %.1f us each (mean), processor time %.1f us in the service and\n"
      "   %.1f us in the client per lookup\n",
      per_lookup, service_per, own_per);
  long peer_rss = RssKiB(dictd);
  for (pid_t child : Children(dictd)) peer_rss += RssKiB(child);
  Row("resident memory (MiB)", static_cast<double>(RssKiB(service)) / 1024,
      static_cast<double>(peer_rss) / 1024, "after 10,000 lookups (dictd: daemon + its child)");
  std::printf("  (ratio: dictd / Vandrel; above 1 Vandrel is faster or smaller)\n");

  Stop(dictd);
  s.set->Close();
  return 0;
}

}  // namespace

// Only lookups, for a profiler: n lookups over the words through the
// service running on (or started on) dic_dir.
int Lookups(const std::string& dic_dir, const std::vector<WideString>& words, long n) {
  if (words.empty()) return 2;
  TServiceSide s = StartService(dic_dir);
  std::vector<double> each;
  each.reserve(static_cast<std::size_t>(n));
  const auto start = Clock::now();
  for (long i = 0; i < n; ++i) {
    const auto one = Clock::now();
    s.cursor->LookupWord(words[static_cast<std::size_t>(i) % words.size()]);
    each.push_back(Elapsed(one));
  }
  const double total = Elapsed(start);
  const TFigures f = Summarise(each);
  // Then as many 20-word pages.
  std::vector<double> pages;
  pages.reserve(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    const WideString prefix = Prefix(words[static_cast<std::size_t>(i) % words.size()]);
    const auto one = Clock::now();
    s.cursor->Page(20, client::TPageStart::FromLocate, false, prefix);
    pages.push_back(Elapsed(one));
  }
  // Then as many empty requests (CR_GET_POSITION): the floor.
  std::vector<double> empty;
  empty.reserve(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    const auto one = Clock::now();
    s.cursor->GetPosition();
    empty.push_back(Elapsed(one));
  }
  std::printf("%ld lookups: %.1f us each (mean), median %.1f us, p99 %.1f us\n", n,
              total / static_cast<double>(n), f.median, f.p99);
  std::printf("%ld 20-word pages: median %.1f us\n", n, Summarise(pages).median);
  std::printf("%ld empty requests: median %.1f us\n", n, Summarise(empty).median);
  s.set->Close();
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "lookups")
    return Lookups(argv[2], ReadWords(argv[3]), std::atol(argv[4]));
  if (argc != 4) {
    std::fprintf(stderr, "usage: lookup_peer_bench DIC_DIR DICTD_CONF WORDS\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  try {
    return Run(argv[1], argv[2], ReadWords(argv[3]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lookup_peer_bench: %s\n", e.what());
    return 1;
  }
}
