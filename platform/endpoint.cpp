// Unix-domain socket calls behind the message endpoints.
#include "platform/endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/error.h"

namespace vandrel::win::detail {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  *addr = {};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  path.copy(addr->sun_path, path.size());
  return true;
}

int NewSocket() {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) SetLastErrorFromErrno();
  return fd;
}

bool IsDeadPeerErrno(int e) { return e == ECONNREFUSED || e == ENOENT || e == ENOTDIR; }

}  // namespace

UniqueFd ListenAt(const std::string& path) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return UniqueFd();
  UniqueFd fd(NewSocket());
  if (!fd.valid()) return fd;
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(fd.get(), SOMAXCONN) != 0) {
    SetLastErrorFromErrno();
    return UniqueFd();
  }
  return fd;
}

ConnectOutcome ConnectTo(const std::string& path, UniqueFd* out) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return ConnectOutcome::kDead;
  // A blocking connect: on a Unix socket it only waits while the listener's
  // backlog is full, and a living listener drains it whenever it pumps.
  UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    SetLastErrorFromErrno();
    return ConnectOutcome::kError;
  }
  int rc;
  do {
    rc = connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (IsDeadPeerErrno(errno)) return ConnectOutcome::kDead;
    SetLastErrorFromErrno();
    return ConnectOutcome::kError;
  }
  // Room for many frames on their way, so that posting to a busy peer does
  // not have to wait for it (the system caps the size it grants).
  int send_buffer = 4 << 20;
  setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof(send_buffer));
  if (!SetBlocking(fd.get(), false)) {
    SetLastErrorFromErrno();
    return ConnectOutcome::kError;
  }
  *out = std::move(fd);
  return ConnectOutcome::kConnected;
}

bool EndpointListening(const std::string& path) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return false;
  UniqueFd fd(NewSocket());
  if (!fd.valid()) return true;  // cannot tell: do not declare anybody dead
  int rc = connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  if (rc == 0) return true;
  // EAGAIN: the backlog is full, so somebody listens.
  return !IsDeadPeerErrno(errno);
}

UniqueFd AcceptFrom(int listen_fd, DWORD* peer_pid) {
  for (;;) {
    UniqueFd fd(accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return fd;
    }
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid()) {
      if (peer_pid != nullptr) *peer_pid = static_cast<DWORD>(cred.pid);
      return fd;
    }
    // Another user's process: the namespace is private, so this cannot be a
    // peer of ours. Drop it and look at the next one.
  }
}

IoOutcome SendFrame(int fd, const Frame& frame, bool wait) {
  unsigned char bytes[kFrameSize];
  EncodeFrame(frame, bytes);
  for (;;) {
    ssize_t n = send(fd, bytes, sizeof(bytes), MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT));
    if (n == static_cast<ssize_t>(sizeof(bytes))) return IoOutcome::kDone;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoOutcome::kWouldBlock;
    return IoOutcome::kClosed;
  }
}

IoOutcome ReceiveFrame(int fd, Frame* frame, bool wait) {
  unsigned char bytes[kFrameSize + 1];
  for (;;) {
    // MSG_TRUNC: the result is the datagram's real length, so an oversized
    // datagram is recognised instead of silently cut.
    ssize_t n = recv(fd, bytes, sizeof(bytes), MSG_TRUNC | (wait ? 0 : MSG_DONTWAIT));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoOutcome::kWouldBlock;
    if (n != static_cast<ssize_t>(kFrameSize)) return IoOutcome::kClosed;
    return DecodeFrame(bytes, frame) ? IoOutcome::kDone : IoOutcome::kClosed;
  }
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

bool WaitForAny(WaitEntry* entries, std::size_t count, int timeout_ms) {
  thread_local std::vector<pollfd> fds;
  fds.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].fd;
    fds[i].events = static_cast<short>(POLLIN | (entries[i].want_write ? POLLOUT : 0));
  }
  int n = poll(fds.data(), fds.size(), timeout_ms);
  if (n <= 0) return false;
  for (std::size_t i = 0; i < count; ++i) {
    short r = fds[i].revents;
    entries[i].readable = (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    entries[i].writable = (r & (POLLOUT | POLLERR | POLLHUP)) != 0;
  }
  return true;
}

}  // namespace vandrel::win::detail
