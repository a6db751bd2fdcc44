// The object-window registry: a process-wide table that binds hidden
// windows to object methods, so that a window message sent to an object's
// window (from this process or another) reaches that object's WndProc.
// Used only by the main thread; nothing is locked.
#pragma once

#include <string>

#include "platform/win_types.h"
#include "service/message.h"

namespace vandrel {

// A method bound to an object: what a registry window calls with each of
// its messages. Entries are matched by code and object together; a method
// whose Code is null is no method.
struct TWindowMethod {
  THandleObject* Object = nullptr;  // used, not owned
  void (THandleObject::*Code)(TMessage&) = nullptr;
  bool operator==(const TWindowMethod&) const = default;
};

// Returns the window bound to method: 0 when method.Code is null; the
// existing window when the same code and object are registered already;
// otherwise a new hidden window (a zero-size pop-up tool window of the class
// "STATIC", named ObjectWindowName(), subclassed to ObjectWindowProc) bound
// to method in the first free entry. A window that cannot be created gives 0
// and leaves no entry behind.
win::HWND AllocateObjectWindow(const TWindowMethod& method);

// Unbinds and destroys a window that AllocateObjectWindow returned: puts
// back the window procedure saved at creation, destroys the window and
// frees its entry for reuse. Does nothing for a window that is not in the
// registry.
void DeallocateObjectWindow(win::HWND window);

// The window procedure of every registry window. It calls the bound
// method with a TMessage built from the message (Result 0) inside the
// object's dispatch scope (see THandleObject::Free), and returns Result.
// Windows that are not in the registry get DefWindowProcA. No exception
// leaves it: one that a method lets escape is shown in a message box
// captioned "Vandrel" (EAbort silently dropped) and the message returns the
// Result set so far.
win::LRESULT ObjectWindowProc(win::HWND window, win::UINT msg, win::WPARAM wparam,
                              win::LPARAM lparam);

// The window name given to every registry window created while it is not
// empty; empty by default. Only the manager sets it, around the creation of
// its own window, so that clients find the service by name.
std::string& ObjectWindowName();

// Number of live registry entries (for checks of leaks and entry reuse).
int ObjectWindowCount();

}  // namespace vandrel
