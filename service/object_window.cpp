// The object-window registry and its window procedure.
#include "service/object_window.h"

#include <exception>
#include <vector>

#include "platform/exceptions.h"
#include "platform/window.h"
#include "service/handle_object.h"

namespace vandrel {
namespace {

struct TRegistryEntry {
  TWindowMethod Method;  // Code null = free entry
  win::HWND Window = 0;
};

// Grows, never shrinks; freed entries are reused before it grows.
std::vector<TRegistryEntry>& Registry() {
  static std::vector<TRegistryEntry> registry;
  return registry;
}

TRegistryEntry* FindEntry(win::HWND window) {
  for (TRegistryEntry& entry : Registry()) {
    if (entry.Method.Code != nullptr && entry.Window == window) return &entry;
  }
  return nullptr;
}

void ShowEscapedError(win::HWND window, const char* text) {
  win::MessageBoxA(window, text, "Vandrel", win::MB_ICONERROR);
}

}  // namespace

std::string& ObjectWindowName() {
  static std::string name;
  return name;
}

win::HWND AllocateObjectWindow(const TWindowMethod& method) {
  if (method.Code == nullptr) return 0;
  auto& registry = Registry();
  for (const TRegistryEntry& entry : registry) {
    if (entry.Method == method) return entry.Window;
  }
  const std::string& name = ObjectWindowName();
  win::HWND window = win::CreateWindowExA(win::WS_EX_TOOLWINDOW, "STATIC", name.c_str(),
                                          win::WS_POPUP, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  if (window == 0) return 0;
  // Subclass: the window's own procedure is kept in its user data and put
  // back before the window is destroyed.
  win::SetWindowLongPtrA(window, win::GWL_USERDATA,
                         win::GetWindowLongPtrA(window, win::GWL_WNDPROC));
  win::SetWindowLongPtrA(window, win::GWL_WNDPROC,
                         reinterpret_cast<win::LONG_PTR>(&ObjectWindowProc));
  for (TRegistryEntry& entry : registry) {
    if (entry.Method.Code == nullptr) {
      entry.Method = method;
      entry.Window = window;
      return window;
    }
  }
  registry.push_back({method, window});
  return window;
}

void DeallocateObjectWindow(win::HWND window) {
  TRegistryEntry* entry = FindEntry(window);
  if (entry == nullptr) return;
  win::SetWindowLongPtrA(window, win::GWL_WNDPROC,
                         win::GetWindowLongPtrA(window, win::GWL_USERDATA));
  win::DestroyWindow(window);
  // Destroying the window may have run code that changed the registry.
  entry = FindEntry(window);
  if (entry != nullptr) *entry = TRegistryEntry{};
}

win::LRESULT ObjectWindowProc(win::HWND window, win::UINT msg, win::WPARAM wparam,
                              win::LPARAM lparam) {
  const TRegistryEntry* entry = FindEntry(window);
  if (entry == nullptr) return win::DefWindowProcA(window, msg, wparam, lparam);
  // The registry may grow while the method runs: keep a copy.
  const TWindowMethod method = entry->Method;
  TMessage message;
  message.Msg = msg;
  message.WParam = static_cast<std::int32_t>(wparam);
  message.LParam = lparam;
  message.Result = 0;
  THandleObject::TDispatchScope scope(method.Object);
  try {
    (method.Object->*method.Code)(message);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ShowEscapedError(window, e.what());
  } catch (...) {
    ShowEscapedError(window, "Unknown exception");
  }
  return message.Result;
}

int ObjectWindowCount() {
  int count = 0;
  for (const TRegistryEntry& entry : Registry()) {
    if (entry.Method.Code != nullptr) ++count;
  }
  return count;
}

}  // namespace vandrel
