// Request/answer round trips between two processes through linked objects
// and transfer buffers, as a client talks to the service:
//   int_to_text32   a request with one integer item answered with a
//                   32-character wide string;
//   int_to_text64k  the same answered with a 64 KiB wide string (32768
//                   UTF-16 code units);
//   page2000_fresh  a page of 2,000 words (word, base count, base: three
//                   items each, 56 KiB) asked by a new caller each time, so
//                   the answer is written into a fresh channel that grows
//                   from its first few bytes; also prints how many buffers
//                   one such answer makes (one per growth).
// Each exchange is SendMessageA to the peer's window, the peer reading the
// request and writing its answer, and this side mapping (or reusing) the
// answer view and reading the string. Prints iterations, median and p99
// latency in microseconds and exchanges per second.
// Usage: transfer_bench [--iterations N]      (the server is this program
//        started again with --serve NAME, in a private namespace)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"
#include "protocol/message_ids.h"
#include "service/link_object.h"
#include "service/object_window.h"

namespace vandrel {
namespace {

constexpr std::uint16_t RQ_TEXT = 0x3100;  // 1 length -> 1 wide string
constexpr std::uint16_t RQ_QUIT = 0x3101;
constexpr std::uint16_t RQ_PAGE = 0x3102;  // 1 count -> count x (word, 1, base)

class TBenchServer : public TLinkObject {
 public:
  using TLinkObject::TLinkObject;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TBenchServer", &TLinkObject::MessageTable(),
                                     {{RQ_TEXT, &TBenchServer::Text},
                                      {RQ_QUIT, &TBenchServer::Quit},
                                      {RQ_PAGE, &TBenchServer::Page}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Text(TMessage&) {
    const std::int32_t n = Transfer().ReadInteger(1);
    if (static_cast<std::int32_t>(text_.size()) != n) {
      text_.assign(static_cast<std::size_t>(std::max(n, 0)), u'x');
      for (std::size_t i = 0; i < text_.size(); ++i)
        text_[i] = static_cast<char16_t>(u'a' + i % 26);
    }
    Transfer().ResetWrite();
    Transfer().WriteWideString(1, text_);
  }
  void Page(TMessage&) {
    const std::int32_t n = Transfer().ReadInteger(1);
    Transfer().ResetWrite();
    char16_t word[] = u"w00000";
    for (std::int32_t i = 0; i < n; ++i) {
      for (int d = 5, v = i; d >= 1; --d, v /= 10) word[d] = static_cast<char16_t>(u'0' + v % 10);
      Transfer().WriteWideString(116, word);
      Transfer().WriteInteger(102, 1);
      Transfer().WriteInteger(103, static_cast<std::int32_t>(Handle()));
    }
  }
  void Quit(TMessage&) { win::PostQuitMessage(0); }
  std::u16string text_;
};

int Serve(const std::string& name) {
  ObjectWindowName() = name;
  auto* server = new TBenchServer(nullptr);
  ObjectWindowName().clear();
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  server->Free();
  return 0;
}

void Run(TLinkObject& client, const char* name, std::int32_t length, int iterations) {
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(iterations));
  std::size_t chars = 0;
  auto exchange = [&] {
    TTransferMan& t = client.Transfer();
    t.ResetWrite();
    t.WriteInteger(1, length);
    client.Query(RQ_TEXT);
    chars += t.ReadWideString(1).size();
  };
  for (int i = 0; i < std::min(iterations / 10 + 1, 1000); ++i) exchange();  // warm up
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    exchange();
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::sort(micros.begin(), micros.end());
  const double median = micros[micros.size() / 2];
  const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  std::printf("%-16s %8d %10.1f %10.1f %12.0f\n", name, iterations, median, p99,
              iterations / seconds);
  if (chars == 0) std::printf("(no answer text)\n");
}

// A new caller for each page: its answer channel in the server is fresh.
void RunFreshPages(win::HWND server, int iterations) {
  constexpr std::int32_t kPage = 2000;
  std::vector<double> micros;
  std::uint32_t numbers = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations; ++i) {
    TLinkObject client(nullptr);
    client.SetRemote(server);
    TTransferMan& t = client.Transfer();
    t.ResetWrite();
    t.WriteInteger(1, kPage);
    const std::int32_t first = t.BufferId();
    const auto t0 = std::chrono::steady_clock::now();
    client.Query(RQ_PAGE);
    for (std::int32_t w = 0; w < kPage; ++w) {
      t.ReadWideString(116);
      t.ReadInteger(102);
      t.ReadInteger(103);
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    // Numbers taken between this caller's buffer and the answer's: the
    // server's fresh channel and each of its growths.
    numbers = static_cast<std::uint32_t>(t.ReadId() - first);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::sort(micros.begin(), micros.end());
  std::printf("%-16s %8d %10.1f %10.1f %12.0f   (buffers made per answer: %u)\n", "page2000_fresh",
              iterations, micros[micros.size() / 2],
              micros[std::min(micros.size() - 1, micros.size() * 99 / 100)], iterations / seconds,
              numbers);
}

int Main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--serve") return Serve(argv[2]);
  int iterations = 20000;
  if (argc == 3 && std::string(argv[1]) == "--iterations") iterations = std::atoi(argv[2]);

  // A private namespace, so that the figures never meet a running service.
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("vandrel-bench-" + std::to_string(win::GetCurrentProcessId()));
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
  setenv("VANDREL_RUNTIME_DIR", dir.c_str(), 1);
  win::ResetRuntimeDir();

  const std::string name = "transfer-bench-server";
  const win::DWORD pid = win::StartChildProcess({win::ModuleFileName(), "--serve", name}, "");
  win::HWND server = 0;
  for (const win::DWORD t0 = win::GetTickCount();
       server == 0 && win::GetTickCount() - t0 < 10000;) {
    server = win::FindWindowA("STATIC", name.c_str());
    if (server == 0) win::Sleep(2);
  }
  int status = 1;
  if (server != 0) {
    TLinkObject client(nullptr);
    client.SetRemote(server);
    std::printf("%-16s %8s %10s %10s %12s\n", "workload", "iters", "median_us", "p99_us",
                "exchanges/s");
    Run(client, "int_to_text32", 32, iterations);
    Run(client, "int_to_text64k", 32768, std::max(iterations / 5, 100));
    RunFreshPages(server, std::max(iterations / 100, 20));
    client.Transfer().ResetWrite();
    client.Query(RQ_QUIT);
    status = 0;
  } else {
    std::fprintf(stderr, "transfer_bench: the server window never appeared\n");
  }
  int code = 0;
  if (pid != 0 && !win::WaitChildProcess(pid, 10000, &code)) win::KillProcess(pid, true);
  FreeRetiredTransfers();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}

}  // namespace
}  // namespace vandrel

int main(int argc, char** argv) {
  try {
    return vandrel::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "transfer_bench: %s\n", e.what());
    return 1;
  }
}
