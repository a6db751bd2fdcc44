// Message pumping for client programs.
#include "client/message_pump.h"

#include "platform/window.h"

namespace vandrel::client {
namespace {

// Depth of the PumpMessagesUntil calls on this thread's stack, and whether
// a wake-up is already queued (one is enough).
thread_local int waiting_pumps = 0;
thread_local bool wake_queued = false;
thread_local bool timed_out = false;

void TimeoutProc(win::HWND, win::UINT, win::UINT_PTR, win::DWORD) { timed_out = true; }

}  // namespace

void WakePump(win::HWND window) {
  if (waiting_pumps == 0 || wake_queued) return;
  if (win::PostMessageA(window, win::WM_NULL, 0, 0)) wake_queued = true;
}

bool ProcessMessages() {
  win::MSG msg;
  while (win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE)) {
    if (msg.message == win::WM_QUIT) {
      win::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (msg.message == win::WM_NULL) wake_queued = false;
    win::TranslateMessage(&msg);
    win::DispatchMessageA(&msg);
  }
  return true;
}

bool PumpMessagesUntil(const std::function<bool()>& done, int timeout_ms) {
  if (done()) return true;
  const bool outer_timed_out = timed_out;
  timed_out = false;
  win::UINT_PTR timer = 0;
  if (timeout_ms >= 0) timer = win::SetTimer(0, 0, static_cast<win::UINT>(timeout_ms), &TimeoutProc);
  ++waiting_pumps;
  bool result = false;
  win::MSG msg;
  for (;;) {
    if (win::GetMessageA(&msg, 0, 0, 0) == 0) {
      win::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (msg.message == win::WM_NULL) wake_queued = false;
    win::TranslateMessage(&msg);
    win::DispatchMessageA(&msg);
    if (done()) {
      result = true;
      break;
    }
    if (timed_out) break;
  }
  --waiting_pumps;
  if (timer != 0) win::KillTimer(0, timer);
  timed_out = outer_timed_out;
  return result;
}

}  // namespace vandrel::client
