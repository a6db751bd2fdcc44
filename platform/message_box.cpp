// Message boxes and window visibility for a service without a display: a
// message box is one log line, "caption: text", answered with IDOK at once.
#include <mutex>
#include <string>

#include "platform/log.h"
#include "platform/window.h"

namespace vandrel::win {
namespace {

struct HookSlot {
  std::mutex lock;
  MessageBoxHook hook;
};

HookSlot& hook_slot() {
  static HookSlot* h = new HookSlot;  // never destroyed
  return *h;
}

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  const std::string t = text != nullptr ? text : "";
  const std::string c = caption != nullptr ? caption : "Error";
  WriteLogLine(c + ": " + t);
  MessageBoxHook hook;
  {
    HookSlot& slot = hook_slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    hook = slot.hook;
  }
  if (hook) hook(owner, t, c, type);  // outside the lock: a hook may show a box itself
  return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) {
  HookSlot& slot = hook_slot();
  std::lock_guard<std::mutex> guard(slot.lock);
  slot.hook = std::move(hook);
}

BOOL ShowWindow(HWND, int) { return FALSE; }  // FALSE: the window was hidden before
BOOL SetWindowPos(HWND, HWND, int, int, int, int, UINT) { return TRUE; }

}  // namespace vandrel::win
