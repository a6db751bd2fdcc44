// Hidden windows, window procedures, sent and posted messages, the message
// loop, timers and message boxes: the Win32 messaging calls that Vandrel
// makes, implemented over the session namespace (runtime_dir.h). A window
// belongs to the thread that created it; only that thread runs its window
// procedure. SendMessageA to a window of another thread or process waits for
// the reply and, while it waits, handles the messages sent to the calling
// thread's own windows. A peer that died never hangs a sender: the call
// returns 0 at once with ERROR_INVALID_WINDOW_HANDLE.
#pragma once

#include <functional>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

// Creates a hidden window owned by the calling thread with the default window
// procedure (DefWindowProcA). Only the class "STATIC" is known. A non-empty
// window name must be unique among the live windows of the namespace:
// otherwise the call fails (returns 0) with ERROR_ALREADY_EXISTS.
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance, void* param);
// Removes the window's namespace entries and kills its timers.
BOOL DestroyWindow(HWND hwnd);
// True while the window exists and the process that owns it lives.
BOOL IsWindow(HWND hwnd);
// Finds a named window of the namespace (class may be null or "STATIC").
HWND FindWindowA(const char* class_name, const char* window_name);
// The owner's process id (and thread id as result), 0 for an unknown window.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id);

// GWL_WNDPROC (a WNDPROC) and GWL_USERDATA, for windows of the calling
// thread. Return the previous value.
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Returns 0.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// As SendMessageA, but a peer that is alive and does not answer within
// timeout_ms is given up on: returns 0 with ERROR_TIMEOUT (its late reply is
// dropped). The peer's thread then counts as hung until a reply of it
// arrives; with SMTO_ABORTIFHUNG a send to a hung thread fails at once with
// ERROR_TIMEOUT. Returns non-zero when the message was handled, with the
// window procedure's result in *result. A window of the calling thread is
// called directly, without a time limit.
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT flags,
                            UINT timeout_ms, DWORD* result);
// Queues a message for the window's thread. When the peer's socket is full
// the call waits (up to 5 s, reading meanwhile what arrives for the calling
// thread) until the peer has taken it, so that a posted message never
// depends on the caller pumping again; a peer that did not take it in that
// time gets later posts queued without waiting, up to 65,536, beyond which
// they fail, and one that takes nothing for 30 s is disconnected.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// The process that sent the message the calling thread's window procedure
// is handling now: for a message sent from another process, that process
// as the system tells it (it cannot be claimed); for a direct call to a
// window of this thread, this process; 0 for a dispatched posted message
// and outside any message. Nested messages see their own sender.
DWORD GetMessageSenderProcessId();
void PostQuitMessage(int exit_code);

// Returns FALSE (0) for WM_QUIT (msg->wParam = its exit code), TRUE
// otherwise. Incoming sent messages are handled while it waits and are
// never returned. A window filter and a message range (both 0: none) select
// among posted and timer messages; WM_QUIT is returned whatever they say.
// Order: sent messages, posted messages, WM_QUIT, timers.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max);
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);

// Window timer (hwnd != 0): WM_TIMER with wParam = id. Thread timer (hwnd 0):
// returns a new id and runs the callback when its WM_TIMER is dispatched.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC callback);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Monotonic milliseconds.
DWORD GetTickCount();
void Sleep(DWORD ms);

// Writes "caption: text" as one line to the log (standard error unless
// redirected by SetLogFile) and returns IDOK at once.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
BOOL ShowWindow(HWND hwnd, int cmd);
BOOL SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx, int cy, UINT flags);

// Test hook: called for every message box of this process (after logging).
// Pass an empty function to remove it.
using MessageBoxHook =
    std::function<void(HWND owner, const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);
// Redirects the log (message boxes) to a file, appending; empty = stderr.
void SetLogFile(const std::string& path);

}  // namespace vandrel::win
