// Hidden windows, window procedures and messages: the Win32 calls of
// window.h over the calling thread's message queue (message_queue.h).
#include "platform/window.h"

#include <strings.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/message_queue.h"

namespace vandrel::win {
namespace {

using detail::MessageQueue;

DWORD OwnProcessId() {
  static const DWORD pid = static_cast<DWORD>(getpid());
  return pid;
}

bool IsStaticClass(const char* class_name) {
  return class_name == nullptr || strcasecmp(class_name, "STATIC") == 0;
}

}  // namespace

HWND CreateWindowExA(DWORD, const char* class_name, const char* window_name, DWORD, int, int, int,
                     int, HWND, HMENU, HINSTANCE, void*) {
  if (class_name == nullptr || !IsStaticClass(class_name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return MessageQueue::Current().CreateWindow(window_name != nullptr ? window_name : "");
}

BOOL DestroyWindow(HWND hwnd) { return MessageQueue::Current().DestroyWindow(hwnd); }

BOOL IsWindow(HWND hwnd) { return MessageQueue::Current().WindowAlive(hwnd) ? TRUE : FALSE; }

HWND FindWindowA(const char* class_name, const char* window_name) {
  if (!IsStaticClass(class_name) || window_name == nullptr) return 0;
  return MessageQueue::Current().FindNamedWindow(window_name);
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id) {
  return MessageQueue::Current().OwnerOf(hwnd, process_id);
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  detail::WindowRecord* w = MessageQueue::Current().FindWindow(hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);  // so that a previous value of 0 can be told from failure
  LONG_PTR previous = 0;
  switch (index) {
    case GWL_WNDPROC:
      if (value == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // a window always has a procedure
        return 0;
      }
      previous = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return previous;
    case GWL_USERDATA:
      previous = w->user_data;
      w->user_data = value;
      return previous;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  detail::WindowRecord* w = MessageQueue::Current().FindWindow(hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_USERDATA:
      return w->user_data;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return proc != nullptr ? proc(hwnd, msg, wparam, lparam) : 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  MessageQueue& q = MessageQueue::Current();
  if (detail::WindowRecord* w = q.FindWindow(hwnd)) {
    detail::SenderScope sender(OwnProcessId());
    return w->proc(hwnd, msg, wparam, lparam);
  }
  if (hwnd == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return q.SendRemote(hwnd, msg, wparam, lparam);
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT flags,
                            UINT timeout_ms, DWORD* result) {
  MessageQueue& q = MessageQueue::Current();
  LRESULT r = 0;
  if (detail::WindowRecord* w = q.FindWindow(hwnd)) {
    detail::SenderScope sender(OwnProcessId());
    r = w->proc(hwnd, msg, wparam, lparam);
  } else if (hwnd == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  } else {
    bool timed_out = false;
    SetLastError(ERROR_SUCCESS);
    const int limit = timeout_ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeout_ms);
    r = q.SendRemote(hwnd, msg, wparam, lparam, limit, &timed_out, (flags & SMTO_ABORTIFHUNG) != 0);
    if (timed_out) return 0;
    if (r == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE) return 0;
  }
  if (result != nullptr) *result = static_cast<DWORD>(r);
  return 1;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  MessageQueue& q = MessageQueue::Current();
  if (hwnd == 0 || q.FindWindow(hwnd) != nullptr) {
    // No window: a message for the calling thread itself.
    q.PostLocal(MSG{hwnd, msg, wparam, lparam, GetTickCount(), {}});
    return TRUE;
  }
  return q.PostRemote(hwnd, msg, wparam, lparam);
}

void PostQuitMessage(int exit_code) { MessageQueue::Current().PostQuit(exit_code); }

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max) {
  return MessageQueue::Current().GetMessage(msg, hwnd, filter_min, filter_max, true, true);
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove) {
  return MessageQueue::Current().GetMessage(msg, hwnd, filter_min, filter_max, false,
                                            (remove & PM_REMOVE) != 0);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  MessageQueue& q = MessageQueue::Current();
  if (msg->message == WM_TIMER) {
    // A timer with a callback runs it instead of the window procedure; a
    // timer killed after its message was taken runs nothing.
    if (TIMERPROC callback = q.TimerCallback(msg->hwnd, msg->wParam)) {
      callback(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
      return 0;
    }
  }
  if (msg->hwnd == 0) return 0;
  detail::WindowRecord* w = q.FindWindow(msg->hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  detail::SenderScope sender(0);
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

DWORD GetMessageSenderProcessId() { return detail::SenderScope::Current(); }

}  // namespace vandrel::win
