// Unix-domain socket calls behind the message endpoints.
#include "platform/endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/channel.h"
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

namespace {

constexpr std::uint32_t kAnswerMagic = 0x314C4256;  // "VBL1"

// The offer's bytes: the page format's magic and slot count (channel.h);
// the answer's: its own magic and 0.
void EncodeOffer(unsigned char* out, bool answer) {
  const std::uint32_t magic = answer ? kAnswerMagic : kChannelMagic;
  const std::uint32_t slots = answer ? 0 : kChannelSlots;
  std::memcpy(out, &magic, 4);
  std::memcpy(out + 4, &slots, 4);
}

IoOutcome SendBytes(int fd, const void* bytes, std::size_t size, const int* fds,
                    std::size_t fd_count) {
  iovec iov{const_cast<void*>(bytes), size};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(2 * sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  if (fd_count > 0) {
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(fd_count * sizeof(int));
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(fd_count * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds, fd_count * sizeof(int));
  }
  for (;;) {
    ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(size)) return IoOutcome::kDone;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoOutcome::kWouldBlock;
    return IoOutcome::kClosed;
  }
}

}  // namespace

IoOutcome SendOffer(int fd, int page_fd, int bell_fd) {
  unsigned char bytes[kOfferSize];
  EncodeOffer(bytes, false);
  const int fds[2] = {page_fd, bell_fd};
  return SendBytes(fd, bytes, sizeof bytes, fds, 2);
}

IoOutcome SendAnswer(int fd, int bell_fd) {
  unsigned char bytes[kOfferSize];
  EncodeOffer(bytes, true);
  return SendBytes(fd, bytes, sizeof bytes, &bell_fd, 1);
}

IoOutcome SendWake(int fd) {
  const unsigned char byte = 0;
  return SendBytes(fd, &byte, 1, nullptr, 0);
}

Datagram ReceiveDatagram(int fd, Frame* frame, UniqueFd* page, UniqueFd* bell) {
  unsigned char bytes[kFrameSize + 1];
  iovec iov{bytes, sizeof bytes};
  // Room for a few descriptors, so that a peer passing more than it may is
  // seen (and its descriptors closed) rather than cut off unseen.
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(4 * sizeof(int))];
  msghdr msg{};
  for (;;) {
    msg = {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // MSG_TRUNC: the result is the datagram's real length, so an oversized
    // datagram is recognised instead of silently cut.
    ssize_t n = recvmsg(fd, &msg, MSG_TRUNC | MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Datagram::kWouldBlock;
    if (n <= 0) return Datagram::kClosed;
    // Every descriptor passed is owned here from now on.
    std::vector<UniqueFd> passed;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int passed_fd;
        std::memcpy(&passed_fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
        passed.emplace_back(passed_fd);
      }
    }
    const bool cut = (msg.msg_flags & MSG_CTRUNC) != 0;
    if (n == 1 && passed.empty()) return Datagram::kWake;
    if (n == static_cast<ssize_t>(kOfferSize) && !cut) {
      unsigned char offer[kOfferSize], answer[kOfferSize];
      EncodeOffer(offer, false);
      EncodeOffer(answer, true);
      if (passed.size() == 2 && std::memcmp(bytes, offer, kOfferSize) == 0) {
        *page = std::move(passed[0]);
        *bell = std::move(passed[1]);
        return Datagram::kOffer;
      }
      if (passed.size() == 1 && std::memcmp(bytes, answer, kOfferSize) == 0) {
        *bell = std::move(passed[0]);
        return Datagram::kAnswer;
      }
      return Datagram::kClosed;
    }
    if (n != static_cast<ssize_t>(kFrameSize) || cut || !passed.empty()) return Datagram::kClosed;
    return DecodeFrame(bytes, frame) ? Datagram::kFrame : Datagram::kClosed;
  }
}

UniqueFd NewBell() {
  UniqueFd fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!fd.valid()) SetLastErrorFromErrno();
  return fd;
}

bool AdoptBell(int fd) {
  char target[64];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), target, sizeof target);
  static constexpr char kEventFd[] = "anon_inode:[eventfd]";
  if (n != static_cast<ssize_t>(sizeof kEventFd - 1) || std::memcmp(target, kEventFd, n) != 0) {
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void RingBell(int fd) {
  const std::uint64_t one = 1;
  while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ClearBell(int fd) {
  std::uint64_t count;
  while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
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
