// `vandrel dict-server` against the real service and the real `dict`
// client: definitions, matches with strategies, the database and strategy
// lists, database and server information, MIME headers; whole sessions
// compared with golden transcripts (the banner's and status's variable
// parts masked); and a normal client served while 200 connections idle and
// another sends a 10 MB line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "dictionary/word_match.h"
#include "platform/unique_handle.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A connected socket, empty when the connection failed.
win::UniqueFd Connect(int port) {
  win::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<std::uint16_t>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return {};
  return fd;
}

// Everything the server sends until it closes (or timeout_ms of silence).
std::string ReadAll(int fd, int timeout_ms = 10000) {
  std::string out;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

class DictServerE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    // A: markup, a line that begins with ".", a word in two dictionaries.
    Compile("A.dic", {{u"H\u00e4user", u"houses (German)"},
                      {u"house", u"\x05house\x05 \x08n.\x08 a building\r.dot line"},
                      {u"mouse", u"a small animal"}});
    Compile("B.dic", {{u"horse", u"loshad'"}, {u"hose", u"shlang"}, {u"house", u"dom"}});
    Service();  // the service runs with the scratch folder before the gateway asks for it
    const std::string out = state_.path() + "/server.out";
    StartChild({"/bin/sh", "-c",
                "exec " + ShellQuote(BinDir() + "/vandrel") +
                    " dict-server --listen 127.0.0.1:0 >" + ShellQuote(out) + " 2>&1"});
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
      const std::string text = ReadFile(out);
      std::smatch m;
      if (std::regex_search(text, m, std::regex("listening on port (\\d+)"))) {
        port_ = std::stoi(m[1]);
        break;
      }
      client::PumpMessagesUntil([] { return false; }, 20);
    }
    ASSERT_NE(port_, 0) << ReadFile(out);
  }

  // Runs the `dict` client with args against the gateway.
  TRun Dict(const std::string& args) {
    const std::string out = state_.path() + "/dict.out";
    TRun run;
    const win::DWORD pid = StartChild({"/bin/sh", "-c",
                                       "dict -h 127.0.0.1 -p " + std::to_string(port_) + " " +
                                           args + " >" + ShellQuote(out) + " 2>&1"});
    EXPECT_TRUE(WaitChild(pid, kBoundMs, &run.code));
    run.out = ReadFile(out);
    return run;
  }

  // A whole session: the commands sent in one packet, the answer with its
  // variable parts masked.
  std::string Session(const std::string& commands) {
    win::UniqueFd fd = Connect(port_);
    EXPECT_TRUE(fd);
    EXPECT_EQ(::send(fd.get(), commands.data(), commands.size(), 0),
              static_cast<ssize_t>(commands.size()));
    // The service may call this process back while the gateway asks it.
    std::string text;
    std::thread reader([&] { text = ReadAll(fd.get()); });
    client::PumpMessagesUntil([] { return false; }, 300);
    reader.join();
    fd.reset();
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    text = std::regex_replace(text, std::regex("^220 .*"),
                              "220 HOST vandrel dict gateway <mime> <ID>");
    text = std::regex_replace(text, std::regex("210 status \\[.*\\]"), "210 status [...]");
    if (host[0] != '\0') text = std::regex_replace(text, std::regex(host), "HOST");
    return text;
  }

  void ExpectGolden(const std::string& name, const std::string& text) {
    const std::string path = SourceDir() + "/tests/e2e/dict_server/" + name + ".golden";
    if (std::getenv("VANDREL_UPDATE_GOLDEN") != nullptr) {
      std::ofstream(path, std::ios::binary) << text;
      return;
    }
    EXPECT_EQ(text, ReadFile(path)) << "golden " << path;
  }

  int port_ = 0;
};

TEST_F(DictServerE2eTest, TheDictClientDefinesMatchesAndLists) {
  TRun run = Dict("house");
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("2 definitions found"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("house n. a building"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(".dot line"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("dom"), std::string::npos) << run.out;

  run = Dict("-d B HOUSE");
  EXPECT_NE(run.out.find("1 definition found"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("building"), std::string::npos) << run.out;

  run = Dict("-m -s lev hose");
  EXPECT_NE(run.out.find("house"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("horse"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("hose"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("mouse"), std::string::npos) << run.out;
  run = Dict("-m -s re '^h.*e$'");
  EXPECT_NE(run.out.find("horse"), std::string::npos) << run.out;
  run = Dict("-m -s exact HAUSER");
  EXPECT_NE(run.out.find("H\u00e4user"), std::string::npos) << run.out;

  run = Dict("-D");
  EXPECT_NE(run.out.find(" A "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" B "), std::string::npos) << run.out;
  run = Dict("-S");
  for (const TStrategyInfo& s : MatchStrategies())
    EXPECT_NE(run.out.find(std::string(" ") + s.Name + " "), std::string::npos) << s.Name;
  run = Dict("-i A");
  EXPECT_NE(run.out.find("words: 3"), std::string::npos) << run.out;
  run = Dict("-I");
  EXPECT_NE(run.out.find("2 databases served"), std::string::npos) << run.out;
  run = Dict("-M mouse");
  EXPECT_NE(run.out.find("Content-type: text/plain; charset=utf-8"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("a small animal"), std::string::npos) << run.out;
  run = Dict("nothing");
  EXPECT_NE(run.code, 0);
  EXPECT_NE(run.out.find("No definitions found"), std::string::npos) << run.out;
}

TEST_F(DictServerE2eTest, SessionsMatchTheirGoldenTranscripts) {
  ExpectGolden("commands", Session("CLIENT golden test\r\n"
                                   "SHOW DB\r\n"
                                   "SHOW STRAT\r\n"
                                   "SHOW INFO B\r\n"
                                   "SHOW SERVER\r\n"
                                   "DEFINE * house\r\n"
                                   "DEFINE ! house\r\n"
                                   "DEFINE B \"HOUSE\"\r\n"
                                   "MATCH * . ho\r\n"
                                   "MATCH ! lev hoose\r\n"
                                   "MATCH * glob h?[r-s]e\r\n"
                                   "MATCH A nprefix m\r\n"
                                   "MATCH * soundex Hauser\r\n"
                                   "OPTION MIME\r\n"
                                   "DEFINE A mouse\r\n"
                                   "STATUS\r\n"
                                   "HELP\r\n"
                                   "QUIT\r\n"
                                   "DEFINE * never answered\r\n"));
  ExpectGolden("errors", Session("FROB\r\n"
                                 "\r\n"
                                 "DEFINE * \"unbalanced\r\n"
                                 "DEFINE *\r\n"
                                 "DEFINE nosuch house\r\n"
                                 "DEFINE * zzz\r\n"
                                 "MATCH * nosuch house\r\n"
                                 "MATCH * re \"a(b\"\r\n"
                                 "MATCH nosuch . h\r\n"
                                 "MATCH * exact zzz\r\n"
                                 "SHOW INFO nosuch\r\n"
                                 "SHOW INFO *\r\n"
                                 "SHOW FROB\r\n"
                                 "OPTION FROB\r\n"
                                 "AUTH user secret\r\n"
                                 "DEFINE * \xff\xfe\r\n"
                                 "QUIT\r\n"));
  ExpectGolden("long_line", Session(std::string(2000, 'x') + "\r\nSHOW DB\r\n"));
}

TEST_F(DictServerE2eTest, IdleConnectionsAndAnEndlessLineDoNotStopANormalClient) {
  std::vector<win::UniqueFd> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(Connect(port_));
    ASSERT_TRUE(idle.back()) << i;
  }
  // 10 MB without a line end: answered 500 and closed, whatever it sends.
  const win::UniqueFd flood = Connect(port_);
  ASSERT_TRUE(flood);
  std::string flood_answer;
  std::thread flooder([&] {
    const std::string chunk(1 << 20, 'a');
    for (int i = 0; i < 10; ++i)
      if (::send(flood.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
    flood_answer = ReadAll(flood.get(), 5000);
  });
  TRun run = Dict("house");
  flooder.join();
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("2 definitions found"), std::string::npos) << run.out;
  EXPECT_NE(flood_answer.find("500 line too long"), std::string::npos) << flood_answer;
  // The idle ones were greeted and are still open.
  char buffer[256];
  const ssize_t n = ::recv(idle[0].get(), buffer, sizeof buffer, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, 4), "220 ");
}

}  // namespace
}  // namespace vandrel::test
