// Timers and time: SetTimer/KillTimer on the calling thread's queue, the
// monotonic tick count and Sleep.
#include <time.h>

#include <cerrno>

#include "platform/message_queue.h"
#include "platform/window.h"

namespace vandrel::win {

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC callback) {
  return detail::MessageQueue::Current().SetTimer(hwnd, id, elapse_ms, callback);
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  return detail::MessageQueue::Current().KillTimer(hwnd, id);
}

DWORD GetTickCount() { return static_cast<DWORD>(detail::MonotonicMs()); }

void Sleep(DWORD ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace vandrel::win
