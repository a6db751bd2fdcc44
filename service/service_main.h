// The service process: its entry routine and main message loop. All work of
// the service runs on this one thread, inside the window procedures that the
// loop dispatches (and the sent messages the platform delivers while the
// thread waits).
//
// Without "/stay" a one-shot idle timer ends the service about 2 s after
// start when no client has connected by then; otherwise the service lives
// until the manager's last client has gone (the manager posts WM_QUIT).
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vandrel {

// Period of the idle timer.
constexpr win::UINT kIdleTimeoutMs = 2000;

// Runs the service with the command line args (program name excluded):
// parses it, arms the idle timer unless "/stay", creates the manager and
// runs the message loop. Returns the process exit code: 0 after an orderly
// end; 1 when the manager cannot be created (another service owns the
// namespace), after one line on standard error.
int ServiceMain(const std::vector<std::string>& args);

// The main loop: GetMessageA until WM_QUIT. Messages for windows are
// translated and dispatched; of the messages for the thread itself only
// the idle timer's is dispatched (it has no window). An exception that
// escapes a dispatch is shown in a message box owned by report_window
// (EAbort silently dropped) and the loop goes on. A WM_QUIT posted by the
// idle timer is ignored when a client connected while it was on its way,
// and the manager still lives.
void RunServiceLoop(win::HWND report_window);

}  // namespace vandrel
