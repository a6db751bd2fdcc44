// Message pumping for client programs.
#include "client/message_pump.h"

#include "platform/window.h"

namespace vandrel::client {
namespace {

// Depth of the PumpMessagesUntil calls on this thread's stack, and whether
// a wake-up is already queued (one is enough).
thread_local int waiting_pumps = 0;
thread_local bool wake_queued = false;
constexpr win::UINT kRecheckMs = 10;

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
  const win::DWORD start = win::GetTickCount();
  // Conditions that no message announces (a process that ends, say) are
  // tested again on a short timer.
  const win::UINT_PTR timer = win::SetTimer(0, 0, kRecheckMs, nullptr);
  ++waiting_pumps;
  bool result = false;
  win::MSG msg;
  for (;;) {
    if (win::GetMessageA(&msg, 0, 0, 0) == 0) {
      win::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (msg.message == win::WM_NULL) wake_queued = false;
    if (!(msg.hwnd == 0 && msg.message == win::WM_TIMER && msg.wParam == timer)) {
      win::TranslateMessage(&msg);
      win::DispatchMessageA(&msg);
    }
    if (done()) {
      result = true;
      break;
    }
    if (timeout_ms >= 0 && win::GetTickCount() - start >= static_cast<win::DWORD>(timeout_ms))
      break;
  }
  --waiting_pumps;
  win::KillTimer(0, timer);
  return result;
}

}  // namespace vandrel::client
