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

// The other datagrams of a connection besides frames, all sent without
// waiting:
// - the connecting side's offer (kOfferSize bytes) passes two descriptors:
//   the shared page of the connection (channel.h) and that thread's bell;
// - the accepting side's answer (kOfferSize bytes) passes its own bell;
// - a one-byte wake-up, for a peer whose bell is not known.
// A bell is an eventfd that a thread's poll() waits on; ringing it wakes the
// thread without pulling it onto the ringer's processor, as a socket's
// wake-up does.
inline constexpr std::size_t kOfferSize = 8;
IoOutcome SendOffer(int fd, int page_fd, int bell_fd);
IoOutcome SendAnswer(int fd, int bell_fd);
IoOutcome SendWake(int fd);

enum class Datagram {
  kFrame,       // *frame filled
  kWake,        // look at the shared rings
  kOffer,       // *page and *bell hold the offered descriptors
  kAnswer,      // *bell holds the peer's bell
  kWouldBlock,  // nothing waiting
  kClosed,      // the end of the connection, or a datagram that is none of
                // these (the peer is broken)
};
// Reads one datagram without waiting. Descriptors passed with anything but
// an offer or an answer are closed at once.
Datagram ReceiveDatagram(int fd, Frame* frame, UniqueFd* page, UniqueFd* bell);

// A new bell of this thread (non-blocking, close on exec); invalid on
// failure, last error set.
UniqueFd NewBell();
// True when a descriptor passed by a peer is an eventfd; it is made
// non-blocking, so that ringing it never waits.
bool AdoptBell(int fd);
// Rings a bell (never waits; a bell that is full is rung already).
void RingBell(int fd);
// Takes what rang a bell of this thread.
void ClearBell(int fd);

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
