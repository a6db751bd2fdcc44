// The peer program of the messaging tests: a second process that owns a
// window and answers the messages of msgpeer_protocol.h.
//
//   msgpeer serve NAME [MARKER]   own a window named NAME until WM_QUIT; the
//                                 exit code is the quit code
//   msgpeer client NAME COUNT     send COUNT kEcho messages to the window
//                                 NAME, check every answer, then post
//                                 kPosted (COUNT) to it and exit 0
//   msgpeer windows COUNT FILE    create COUNT windows, write their handles
//                                 to FILE (one a line), destroy them, exit 0
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/platform/peers/msgpeer_protocol.h"

namespace {

using namespace vandrel::win;
using namespace vandrel::test::msgpeer;

std::string g_marker;
HWND g_window = 0;
std::thread g_kicker;

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

LRESULT PeerWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kEcho:
      return static_cast<LRESULT>(wparam * 2) + lparam;
    case kNest: {
      if (wparam == 0) return 1;
      LRESULT r =
          SendMessageA(static_cast<HWND>(lparam), kNest, wparam - 1, static_cast<LPARAM>(hwnd));
      return r == 0 ? -1000 : r + 1;
    }
    case kPostBack:
      PostMessageA(static_cast<HWND>(lparam), kPosted, wparam, static_cast<LPARAM>(hwnd));
      return 1;
    case kQuit:
      PostQuitMessage(static_cast<int>(wparam));
      return 1;
    case kPid:
      return static_cast<LRESULT>(GetCurrentProcessId());
    case kStartNest: {
      LRESULT r = SendMessageA(static_cast<HWND>(lparam), kNest, wparam, static_cast<LPARAM>(hwnd));
      PostMessageA(static_cast<HWND>(lparam), kPosted, static_cast<WPARAM>(r),
                   static_cast<LPARAM>(hwnd));
      return 1;
    }
    case kBlock:
      std::ofstream(g_marker) << "blocked\n";
      for (;;) Sleep(1000);
    case kOuterWait: {
      const HWND target = static_cast<HWND>(lparam);
      if (g_kicker.joinable()) g_kicker.join();
      g_kicker = std::thread([target] { SendMessageA(target, kKick, 0, 0); });
      for (int i = 0; i < 20000 && !FileExists(g_marker); ++i) Sleep(1);
      return 7;
    }
    default: {
      // The procedure the window was created with, kept in its user data as
      // the service's windows keep theirs.
      auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWL_USERDATA));
      return CallWindowProcA(previous, hwnd, msg, wparam, lparam);
    }
  }
}

int Serve(const std::string& name) {
  g_window = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", name.c_str(), WS_POPUP, 0, 0, 0, 0, 0,
                             nullptr, nullptr, nullptr);
  if (g_window == 0)
    return GetLastError() == ERROR_ALREADY_EXISTS ? kExitNameTaken : kExitCreateFailed;
  SetWindowLongPtrA(g_window, GWL_USERDATA, GetWindowLongPtrA(g_window, GWL_WNDPROC));
  SetWindowLongPtrA(g_window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&PeerWindowProc));
  MSG msg;
  while (GetMessageA(&msg, 0, 0, 0)) DispatchMessageA(&msg);
  if (g_kicker.joinable()) g_kicker.join();
  DestroyWindow(g_window);
  return static_cast<int>(msg.wParam);
}

int Client(const std::string& name, int count) {
  HWND target = FindWindowA("STATIC", name.c_str());
  if (target == 0) return kExitCreateFailed;
  for (int i = 0; i < count; ++i) {
    if (SendMessageA(target, kEcho, static_cast<WPARAM>(i), 1) != i * 2 + 1)
      return kExitWrongAnswer;
  }
  return PostMessageA(target, kPosted, static_cast<WPARAM>(count), 0) ? 0 : kExitWrongAnswer;
}

int Windows(int count, const std::string& path) {
  std::vector<HWND> windows;
  for (int i = 0; i < count; ++i) {
    HWND h = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
    if (h == 0) return kExitCreateFailed;
    windows.push_back(h);
  }
  std::ofstream out(path);
  for (HWND h : windows) out << h << "\n";
  for (HWND h : windows) DestroyWindow(h);
  return out ? 0 : kExitCreateFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "serve") {
    if (argc >= 4) g_marker = argv[3];
    return Serve(argv[2]);
  }
  if (argc == 4 && std::string(argv[1]) == "client") return Client(argv[2], std::stoi(argv[3]));
  if (argc == 4 && std::string(argv[1]) == "windows") return Windows(std::stoi(argv[2]), argv[3]);
  return kExitBadArguments;
}
