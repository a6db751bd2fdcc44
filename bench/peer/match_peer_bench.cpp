// Figures for the match strategies and the DICT gateway, printed as a
// table (bench/peer/run_dict_peer.sh runs it):
//
//   match_peer_bench strategies FILE.dic WORDS   in-process walks of one file
//   match_peer_bench service WORDS               CR_MATCH through the service
//   match_peer_bench dict PORT PEER_PORT WORDS   DICT requests, gateway vs peer
//
// WORDS is a UTF-8 file of query words, one a line. Each query runs once
// per word; medians and 99th percentiles in microseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/cursor_match_client.h"
#include "client/service_connection.h"
#include "dictionary/dic_file.h"
#include "dictionary/dic_word_source.h"
#include "dictionary/word_match.h"
#include "platform/unique_handle.h"
#include "tools/common/utf8.h"

using namespace vandrel;
using Clock = std::chrono::steady_clock;

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

// The query of a strategy for one word: a misspelling for lev, the first
// letter and the end for glob and re.
WideString Query(TMatchStrategy s, const WideString& w) {
  const WideString last = w.substr(w.size() > 2 ? w.size() - 2 : 0);
  switch (s) {
    case TMatchStrategy::Lev:
    case TMatchStrategy::Lev2: {
      WideString m = w;
      if (m.size() > 3) m[m.size() / 2] = u'x';
      return m;
    }
    case TMatchStrategy::Glob:
      return w.substr(0, 1) + u"*" + last;
    case TMatchStrategy::Re:
      return u"^" + w.substr(0, 1) + u".*" + last + u"$";
    case TMatchStrategy::Prefix:
      return w.substr(0, std::min<std::size_t>(3, w.size()));
    default:
      return w;
  }
}

const TMatchStrategy kMeasured[] = {TMatchStrategy::Exact,   TMatchStrategy::Prefix,
                                    TMatchStrategy::Lev,     TMatchStrategy::Lev2,
                                    TMatchStrategy::Glob,    TMatchStrategy::Re,
                                    TMatchStrategy::Soundex, TMatchStrategy::Substring};

int Strategies(const char* file, const std::vector<WideString>& words) {
  const std::shared_ptr<const TDicFile> dic = TDicFile::Open(file);
  TDicWordSource source(dic);
  std::printf("in-process walks of %s (%d words), %zu queries each\n", file, dic->RecordCount(),
              words.size());
  std::printf("  %-10s %10s %10s %12s %8s %9s\n", "strategy", "median us", "p99 us", "words read",
              "seeks", "answers");
  for (TMatchStrategy s : kMeasured) {
    std::vector<double> us;
    std::size_t read = 0, seeks = 0, answers = 0;
    const std::size_t n =
        s == TMatchStrategy::Substring ? std::min<std::size_t>(20, words.size()) : words.size();
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<WideString> out;
      TMatchStats stats;
      const auto start = Clock::now();
      TWordMatcher matcher(s, Query(s, words[i]));
      matcher.Collect(source, 100000, out, &stats);
      us.push_back(Elapsed(start));
      read += stats.WordsRead;
      seeks += stats.Seeks;
      answers += out.size();
    }
    const TFigures f = Summarise(us);
    std::printf("  %-10s %10.1f %10.1f %12zu %8zu %9.1f\n", MatchStrategyName(s), f.median, f.p99,
                read / n, seeks / n, static_cast<double>(answers) / static_cast<double>(n));
  }
  std::printf(
      "  (words read and seeks: average per query; lev/lev2 query: the word with its middle\n"
      "   letter replaced; glob: first letter*last two; re: ^first.*last two$; prefix: 3 "
      "letters)\n");
  return 0;
}

int Service(const std::vector<WideString>& words) {
  client::TClientOptions options;
  options.Name = "match_peer_bench";
  client::TServiceConnection connection(options);
  TOwnedPtr<client::TBaseManClient> base_man(
      new client::TBaseManClient(connection.BaseManWindow()));
  auto set = base_man->NewBaseSet();
  for (const auto& f : set->ListFiles()) set->OpenBase(f);
  client::TCursorClient& cursor = set->NewCursor();
  std::printf("CR_MATCH through the service, %zu dictionaries, %zu queries each\n",
              set->Bases().size(), words.size());
  std::printf("  %-10s %10s %10s\n", "strategy", "median us", "p99 us");
  for (TMatchStrategy s : kMeasured) {
    if (s == TMatchStrategy::Substring) continue;
    std::vector<double> us;
    const char* name = MatchStrategyName(s);
    const WideString wide(name, name + std::strlen(name));
    for (const WideString& w : words) {
      const auto start = Clock::now();
      client::MatchWords(cursor, wide, Query(s, w), 100000);
      us.push_back(Elapsed(start));
    }
    const TFigures f = Summarise(us);
    std::printf("  %-10s %10.1f %10.1f\n", name, f.median, f.p99);
  }
  std::vector<double> us;
  for (const WideString& w : words) {
    const auto start = Clock::now();
    client::MatchWords(cursor, u"prefix", w.substr(0, 3), 20);
    us.push_back(Elapsed(start));
  }
  const TFigures f = Summarise(us);
  std::printf("  %-10s %10.1f %10.1f  (first 20 words only)\n", "prefix 20", f.median, f.p99);
  set->Close();
  return 0;
}

// One DICT connection: a request line, then the reply up to its final
// status line.
class TDictLink {
 public:
  explicit TDictLink(int port) {
    fd_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      std::perror("connect");
      std::exit(1);
    }
    ReadLine();  // banner
  }
  // Returns the final status code.
  int Ask(const std::string& request) {
    const std::string line = request + "\r\n";
    if (::send(fd_.get(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
      std::exit(1);
    for (;;) {
      const std::string reply = ReadLine();
      if (reply.size() < 3) continue;
      const int code = std::atoi(reply.substr(0, 3).c_str());
      if (reply[3] != ' ' || !std::isdigit(static_cast<unsigned char>(reply[0]))) continue;
      if (code == 150 || code == 151 || code == 152) {
        if (code != 150) SkipText();
        continue;
      }
      return code;
    }
  }

 private:
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      char chunk[65536];
      const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
      if (n <= 0) {
        std::fprintf(stderr, "connection closed\n");
        std::exit(1);
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  void SkipText() {
    while (ReadLine() != ".") {
    }
  }
  win::UniqueFd fd_;
  std::string buffer_;
};

int Dict(int port, int peer_port, const std::vector<WideString>& words) {
  TDictLink ours(port);
  TDictLink peer(peer_port);
  std::printf("DICT requests on one loopback connection each, %zu words\n", words.size());
  std::printf("  %-22s %12s %10s %12s %10s %8s\n", "request", "gateway med", "p99", "dictd med",
              "p99", "ratio");
  struct TRequest {
    const char* label;
    std::function<std::string(const std::string&)> make;
  };
  const TRequest requests[] = {
      {"DEFINE * word", [](const std::string& w) { return "DEFINE * \"" + w + "\""; }},
      {"MATCH * prefix 3 chars",
       [](const std::string& w) {
         return "MATCH * prefix \"" + tools::WideToUtf8(tools::Utf8ToWideOrThrow(w).substr(0, 3)) +
                "\"";
       }},
      {"MATCH * lev word", [](const std::string& w) { return "MATCH * lev \"" + w + "\""; }},
  };
  for (const TRequest& r : requests) {
    std::vector<double> a, b;
    for (const WideString& w : words) {
      const std::string request = r.make(tools::WideToUtf8(w));
      auto start = Clock::now();
      ours.Ask(request);
      a.push_back(Elapsed(start));
      start = Clock::now();
      peer.Ask(request);
      b.push_back(Elapsed(start));
    }
    const TFigures fa = Summarise(a), fb = Summarise(b);
    std::printf("  %-22s %12.1f %10.1f %12.1f %10.1f %7.2fx\n", r.label, fa.median, fa.p99,
                fb.median, fb.p99, fb.median / fa.median);
  }
  std::printf("  (ratio: dictd median / gateway median; above 1 the gateway is faster)\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "strategies" && argc == 4) return Strategies(argv[2], ReadWords(argv[3]));
  if (mode == "service" && argc == 3) return Service(ReadWords(argv[2]));
  if (mode == "dict" && argc == 5)
    return Dict(std::atoi(argv[2]), std::atoi(argv[3]), ReadWords(argv[4]));
  std::fprintf(stderr,
               "usage: match_peer_bench strategies FILE.dic WORDS | service WORDS |"
               " dict PORT PEER_PORT WORDS\n");
  return 2;
}
