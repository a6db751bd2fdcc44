// Message pumping for client programs. A client's objects answer the
// service's pings and receive its notifications only while the thread that
// created them handles messages: inside a request, or inside one of these
// calls. A program that is idle for longer than the service's 5 s client
// check should pump (ProcessMessages from its own loop, or
// PumpMessagesUntil), or the check waits for it.
#pragma once

#include <functional>

#include "platform/win_types.h"

namespace vandrel::client {

// Handles every message waiting for this thread (sent messages: pings and
// notifications; posted ones are dispatched) and returns at once. Returns
// false when a WM_QUIT was taken (it is posted again for the caller's loop).
bool ProcessMessages();

// Handles messages until done() is true or timeout_ms (-1: no limit) has
// passed; returns done(). done() is tested at the start, after every
// notification and posted message, and every 10 ms. A WM_QUIT ends the wait
// (and is posted again for the caller's loop).
bool PumpMessagesUntil(const std::function<bool()>& done, int timeout_ms);

// Called by client objects after they handled a notification: makes a
// waiting PumpMessagesUntil test its condition again. Does nothing while no
// pump waits.
void WakePump(win::HWND window);

}  // namespace vandrel::client
