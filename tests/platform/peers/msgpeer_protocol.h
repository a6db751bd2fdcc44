// The messages that the messaging tests and their peer program (msgpeer)
// exchange. Every window of both sides runs PeerWindowProc's rules.
#pragma once

#include "platform/window.h"

namespace vandrel::test::msgpeer {

using win::WM_USER;

// Returns wparam * 2 + lparam.
constexpr win::UINT kEcho = WM_USER + 1;
// wparam = depth, lparam = the other side's window. At depth 0 returns 1;
// otherwise sends kNest (depth - 1, own window) to the other side and returns
// its result + 1, or -1000 when that send failed.
constexpr win::UINT kNest = WM_USER + 2;
// Posts kPosted (wparam, own window) to the window in lparam; returns 1.
constexpr win::UINT kPostBack = WM_USER + 3;
constexpr win::UINT kPosted = WM_USER + 4;
// Posts WM_QUIT with exit code wparam; returns 1.
constexpr win::UINT kQuit = WM_USER + 5;
// Returns the peer's process id.
constexpr win::UINT kPid = WM_USER + 6;
// Sent or posted to the peer: it sends kNest (wparam, own window) to the
// window in lparam and posts the result back as kPosted.
constexpr win::UINT kStartNest = WM_USER + 7;
// Writes the peer's marker file, then blocks (without pumping) until killed.
constexpr win::UINT kBlock = WM_USER + 8;
// Out-of-order replies: a helper thread of the peer sends kKick (own window)
// to the window in lparam; this handler then waits, without pumping, until
// the marker file exists, and returns 7.
constexpr win::UINT kOuterWait = WM_USER + 9;
constexpr win::UINT kKick = WM_USER + 10;

// Exit codes of the peer.
constexpr int kExitNameTaken = 3;
constexpr int kExitBadArguments = 4;
constexpr int kExitCreateFailed = 5;
constexpr int kExitWrongAnswer = 6;

}  // namespace vandrel::test::msgpeer
