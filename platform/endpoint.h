// Endpoints: the Unix-domain sockets through which threads of a session
// exchange message frames. A thread that owns windows listens at
// <namespace>/ep/<id>; senders connect to it once and keep the connection.
// All sockets are non-blocking SOCK_SEQPACKET (one frame per datagram) and
// close on exec, so a started program never inherits an endpoint and a dead
// process's endpoint refuses connections.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_frame.h"
#include "platform/unique_handle.h"

namespace vandrel::win::detail {

// UniqueFd lives in platform/unique_handle.h.
using win::UniqueFd;

// Listens at path (which must not exist). Invalid on failure, last error set
// (ERROR_FILENAME_EXCED_RANGE when the path does not fit a socket address).
UniqueFd ListenAt(const std::string& path);

enum class ConnectOutcome {
  kConnected,
  kDead,   // nobody listens: the owner died (or the entry never existed)
  kError,  // anything else (out of descriptors, ...); last error set
};
// Connects to the endpoint at path. Waits while the listener's backlog is
// full, so that a busy but living peer is never taken for a dead one.
ConnectOutcome ConnectTo(const std::string& path, UniqueFd* out);
// True when somebody listens at path; never waits.
bool EndpointListening(const std::string& path);

// Accepts one pending connection from a process of the same user, and
// tells that process's id (from the socket's credentials). Invalid when none
// is pending (or the peer belongs to another user).
UniqueFd AcceptFrom(int listen_fd, DWORD* peer_pid = nullptr);

enum class IoOutcome { kDone, kWouldBlock, kClosed };
// With wait, on a descriptor switched to blocking mode, the call waits for
// room or for a frame (the benchmarks' bare transport); otherwise it never
// waits.
IoOutcome SendFrame(int fd, const Frame& frame, bool wait = false);
// kClosed also for a datagram that is not a frame: the peer is broken.
IoOutcome ReceiveFrame(int fd, Frame* frame, bool wait = false);
bool SetBlocking(int fd, bool blocking);

// poll(2) on a set of descriptors; see WaitSet.
struct WaitEntry {
  int fd;
  bool want_write;
  bool readable = false;  // out: data, end of stream or error pending
  bool writable = false;  // out
};
// Waits up to timeout_ms (-1: forever) until one entry is ready; false on
// timeout or interruption.
bool WaitForAny(WaitEntry* entries, std::size_t count, int timeout_ms);

}  // namespace vandrel::win::detail
