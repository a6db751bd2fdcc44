// Cost of one SendMessageA to a window of another process, against the floor
// of a plain Unix-socket ping-pong of the same frame between two processes.
//
//   send_message_bench [ROUNDS]
//
// prints, for each workload, the median and 99th percentile of one exchange
// in microseconds and the exchanges per second:
//   send_remote     SendMessageA to a window of a peer process that runs
//                   GetMessageA/DispatchMessageA; answered by its procedure;
//                   both sides sleep in poll() at once (VANDREL_SPIN_US=0),
//                   and the sender rings the sleeping side's bell
//   send_spinning   the same, both sides watching the connection's shared
//                   rings for up to the spin bound (VANDREL_SPIN_US, else
//                   the default) before they sleep
//   socket_floor    one frame there and one back over a blocking
//                   SOCK_SEQPACKET connection, the peer echoing in a loop
// The program starts itself as the peer (--peer-window / --peer-socket) in
// a private session namespace of its own.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/endpoint.h"
#include "platform/process.h"
#include "platform/spin_wait.h"
#include "platform/window.h"

namespace {

using namespace vandrel::win;
namespace detail = vandrel::win::detail;
using Clock = std::chrono::steady_clock;

constexpr UINT kEcho = WM_USER + 1;
constexpr UINT kQuit = WM_USER + 2;
constexpr const char* kWindowName = "Bench.Echo";
constexpr int kWarmup = 2000;

LRESULT EchoProc(HWND, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kQuit) {
    PostQuitMessage(0);
    return 1;
  }
  return msg == kEcho ? static_cast<LRESULT>(wparam) + lparam : 0;
}

int PeerWindow() {
  HWND h = CreateWindowExA(0, "STATIC", kWindowName, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  if (h == 0) return 1;
  SetWindowLongPtrA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&EchoProc));
  MSG msg;
  while (GetMessageA(&msg, 0, 0, 0)) DispatchMessageA(&msg);
  DestroyWindow(h);
  return 0;
}

int PeerSocket(const std::string& path) {
  detail::UniqueFd listener = detail::ListenAt(path);
  if (!listener.valid()) return 1;
  detail::WaitEntry e{listener.get(), false};
  if (!detail::WaitForAny(&e, 1, 30000)) return 1;
  detail::UniqueFd fd = detail::AcceptFrom(listener.get());
  if (!fd.valid() || !detail::SetBlocking(fd.get(), true)) return 1;
  detail::Frame f;
  while (detail::ReceiveFrame(fd.get(), &f, true) == detail::IoOutcome::kDone) {
    f.kind = detail::FrameKind::kReply;
    f.lparam = static_cast<LPARAM>(f.wparam) + f.lparam;
    if (detail::SendFrame(fd.get(), f, true) != detail::IoOutcome::kDone) break;
  }
  return 0;
}

struct Figures {
  double median_us;
  double p99_us;
  double per_second;
};

template <class Exchange>
Figures Measure(int rounds, Exchange exchange) {
  for (int i = 0; i < kWarmup; ++i) exchange(i);
  std::vector<double> us(static_cast<std::size_t>(rounds));
  const auto begin = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    exchange(i);
    us[static_cast<std::size_t>(i)] =
        std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  }
  const double total_s = std::chrono::duration<double>(Clock::now() - begin).count();
  std::sort(us.begin(), us.end());
  return Figures{us[us.size() / 2], us[us.size() * 99 / 100], rounds / total_s};
}

void Print(const char* name, int rounds, const Figures& f) {
  std::printf("%-14s rounds=%d median_us=%.2f p99_us=%.2f exchanges_per_s=%.0f\n", name, rounds,
              f.median_us, f.p99_us, f.per_second);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "send_message_bench: %s\n", what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--peer-window") return PeerWindow();
  if (argc == 3 && std::string(argv[1]) == "--peer-socket") return PeerSocket(argv[2]);
  const int rounds = argc >= 2 ? std::max(1000, std::atoi(argv[1])) : 100000;

  // A private namespace, inherited by the peers.
  std::string tmpl = (std::filesystem::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) Fail("cannot make a namespace directory");
  std::filesystem::permissions(tmpl, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  setenv("VANDREL_RUNTIME_DIR", tmpl.c_str(), 1);
  const std::string self = ModuleFileName();

  // SendMessageA across processes, blocking at once and spinning first;
  // the peer inherits the bound through its environment.
  const int spin_us = detail::SpinLimitUs();
  auto measure_send = [&](int bound_us) {
    detail::SetSpinLimitUs(bound_us);
    setenv("VANDREL_SPIN_US", std::to_string(bound_us).c_str(), 1);
    DWORD window_peer = StartChildProcess({self, "--peer-window"}, "");
    if (window_peer == 0) Fail("cannot start the window peer");
    HWND target = 0;
    for (int i = 0; i < 30000 && target == 0; ++i) {
      target = FindWindowA(nullptr, kWindowName);
      if (target == 0) Sleep(1);
    }
    if (target == 0) Fail("the window peer did not appear");
    Figures figures = Measure(rounds, [&](int i) {
      if (SendMessageA(target, kEcho, static_cast<WPARAM>(i), 1) != i + 1) Fail("wrong answer");
    });
    SendMessageA(target, kQuit, 0, 0);
    int code = 0;
    WaitChildProcess(window_peer, 30000, &code);
    return figures;
  };
  Figures send = measure_send(0);
  Figures spinning = measure_send(spin_us);

  // The floor: the same 24-byte frame over a bare socket.
  const std::string path = tmpl + "/pingpong";
  DWORD socket_peer = StartChildProcess({self, "--peer-socket", path}, "");
  if (socket_peer == 0) Fail("cannot start the socket peer");
  detail::UniqueFd fd;
  for (int i = 0; i < 30000 && !fd.valid(); ++i) {
    if (detail::ConnectTo(path, &fd) != detail::ConnectOutcome::kConnected) Sleep(1);
  }
  if (!fd.valid() || !detail::SetBlocking(fd.get(), true)) Fail("cannot reach the socket peer");
  Figures floor = Measure(rounds, [&](int i) {
    detail::Frame f{detail::FrameKind::kSend,
                    detail::ReplyStatus::kHandled,
                    static_cast<std::uint32_t>(i),
                    1,
                    kEcho,
                    static_cast<WPARAM>(i),
                    1};
    if (detail::SendFrame(fd.get(), f, true) != detail::IoOutcome::kDone ||
        detail::ReceiveFrame(fd.get(), &f, true) != detail::IoOutcome::kDone || f.lparam != i + 1) {
      Fail("socket exchange failed");
    }
  });
  fd.reset();
  int code = 0;
  WaitChildProcess(socket_peer, 30000, &code);

  Print("send_remote", rounds, send);
  Print("send_spinning", rounds, spinning);
  Print("socket_floor", rounds, floor);
  std::printf("spin_us=%d spinning_vs_blocking_median=%.2f\n", spin_us,
              send.median_us / spinning.median_us);
  std::printf("ratio_median=%.2f ratio_throughput=%.2f\n", send.median_us / floor.median_us,
              floor.per_second / send.per_second);
  std::filesystem::remove_all(tmpl);
  return 0;
}
