// The peer program of the shared-ring tests: a raw peer that connects to a
// window's endpoint and offers what a broken or hostile process would, or a
// well-behaved one that posts through the ring and goes at once.
//
//   chanpeer unsealed NAME   offer a page that is not sealed
//   chanpeer pipebell NAME   offer a sound page with a pipe for a bell, and
//                            exchange messages on the ring: the owner must
//                            wake this side through the socket instead
//   chanpeer write NAME      after one good exchange on the ring, push the
//                            write index far ahead of the frames put
//   chanpeer slot NAME       ... publish a slot that is not a frame
//   chanpeer read NAME       ... claim that the owner's replies were read
//                            before they were put, then ask for one more
//   chanpeer reoffer NAME    ... offer a second page
//   chanpeer posts NAME N    post kPosted (1..N, 0) to the window and end
//                            the process without any tidying up
//   chanpeer postdie NAME N  once the owner has answered the offer and gone
//                            to sleep, put kPosted (1..N, 0) on the ring
//                            and end at once, without waking it (N <= 512)
//
// The hostile modes exit 0 when the owner dropped the connection within
// kDropWaitMs, kExitNotDropped when it did not, kExitWrongAnswer when the
// good exchange failed; pipebell exits 0 when every exchange worked and the
// pipe stayed empty.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/channel.h"
#include "platform/endpoint.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"
#include "platform/window_entries.h"
#include "tests/platform/peers/msgpeer_protocol.h"

namespace {

using namespace vandrel::win;
using namespace vandrel::win::detail;
using namespace vandrel::test::msgpeer;

constexpr int kExitNotDropped = 10;
constexpr int kExitNoWindow = 11;
constexpr int kExitWrongAnswer = 12;
constexpr int kDropWaitMs = 5000;

// Offsets of the page layout (channel.h).
constexpr std::size_t kForwardWrite = 64;
constexpr std::size_t kBackwardRead = 320 + 64;
constexpr std::size_t kForwardSlots = kChannelHeaderBytes;

struct Link {
  UniqueFd socket;
  HWND window = 0;
};

bool Connect(const std::string& name, Link* link) {
  link->window = FindWindowA(nullptr, name.c_str());
  if (link->window == 0) return false;
  const std::string& dir = RuntimeDir();
  const auto owner = ReadWindowEntry(dir, link->window);
  return owner &&
         ConnectTo(EndpointPath(dir, owner->endpoint), &link->socket) == ConnectOutcome::kConnected;
}

// True when the owner ends the connection within kDropWaitMs; whatever
// else arrives meanwhile is read and dropped.
bool WaitForDrop(int socket) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(kDropWaitMs)) {
    WaitEntry e{socket, false};
    if (!WaitForAny(&e, 1, 50)) continue;
    Frame f;
    UniqueFd page, bell;
    if (ReceiveDatagram(socket, &f, &page, &bell) == Datagram::kClosed) return true;
  }
  return false;
}

UniqueFd UnsealedPage() {
  UniqueFd fd(memfd_create("chanpeer-page", MFD_CLOEXEC));
  const std::uint32_t header[2] = {kChannelMagic, kChannelSlots};
  if (!fd.valid() || ftruncate(fd.get(), kChannelBytes) != 0 ||
      pwrite(fd.get(), header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return UniqueFd();
  }
  return fd;
}

// A sound connection with a page, one exchange done on its rings.
class RingPeer {
 public:
  // With pipe_bell, the bell offered is the writing end of a pipe, which
  // the owner must never ring (the socket wakes this side instead).
  bool Open(const std::string& name, bool pipe_bell = false) {
    if (!Connect(name, &link_)) return false;
    channel_ = Channel::Create(&page_fd_);
    if (pipe_bell) {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
      pipe_read_.reset(fds[0]);
      bell_.reset(fds[1]);
    } else {
      bell_ = NewBell();
    }
    if (channel_ == nullptr || !bell_.valid() ||
        SendOffer(link_.socket.get(), page_fd_.get(), bell_.get()) != IoOutcome::kDone) {
      return false;
    }
    void* p = mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, page_fd_.get(), 0);
    if (p == MAP_FAILED) return false;
    raw_ = static_cast<unsigned char*>(p);
    return true;
  }
  // Reads what the socket holds; false when the connection ended or
  // carried something that does not belong on it.
  bool ReadSocket() {
    for (;;) {
      Frame f;
      UniqueFd page, bell;
      switch (ReceiveDatagram(link_.socket.get(), &f, &page, &bell)) {
        case Datagram::kAnswer:
          if (owner_bell_.valid() || !AdoptBell(bell.get())) return false;
          owner_bell_ = std::move(bell);
          break;
        case Datagram::kWake:
          break;
        case Datagram::kWouldBlock:
          return true;
        case Datagram::kClosed:
        case Datagram::kOffer:
        case Datagram::kFrame:
          return false;
      }
    }
  }
  // True once the owner has answered the offer.
  bool WaitForAnswer() {
    const DWORD start = GetTickCount();
    while (!owner_bell_.valid() && GetTickCount() - start < static_cast<DWORD>(kDropWaitMs)) {
      WaitEntry e{link_.socket.get(), false};
      if (WaitForAny(&e, 1, 50) && !ReadSocket()) return false;
    }
    return owner_bell_.valid();
  }
  // Sends kEcho (20, 2) through the ring and sleeps by the flags' rules
  // until the reply comes; true when it is 42. A wake-up that does not come
  // (the reply waits on the ring, nobody said so) is a failure.
  bool Exchange(std::uint32_t sequence) {
    const Frame ask{FrameKind::kSend, ReplyStatus::kHandled, sequence, link_.window, kEcho, 20, 2};
    if (channel_->Put(ask) != RingOutcome::kDone) return false;
    Wake();
    for (;;) {
      if (!ReadSocket()) return false;
      Frame f;
      switch (channel_->Take(&f)) {
        case RingOutcome::kDone:
          return f.kind == FrameKind::kReply && f.sequence == sequence && f.lparam == 42;
        case RingOutcome::kBroken:
        case RingOutcome::kFull:
          return false;
        case RingOutcome::kEmpty:
          break;
      }
      if (!channel_->PrepareToSleep()) continue;
      WaitEntry entries[2] = {{link_.socket.get(), false}, {bell_.get(), false}};
      const bool woken = WaitForAny(entries, pipe_read_.valid() ? 1 : 2, kDropWaitMs);
      if (entries[1].readable) ClearBell(bell_.get());
      channel_->Awake();
      if (!woken) return false;
    }
  }
  // True when nothing was ever written to the pipe offered as a bell.
  bool PipeUnrung() const {
    char byte;
    return read(pipe_read_.get(), &byte, 1) < 0 && errno == EAGAIN;
  }
  // Tells the owner to look at the rings, the way a sound peer would.
  void Wake() {
    if (owner_bell_.valid()) {
      RingBell(owner_bell_.get());
    } else {
      SendWake(link_.socket.get());
    }
  }
  void Store(std::size_t offset, std::uint32_t value) {
    std::memcpy(raw_ + offset, &value, sizeof value);
  }
  std::uint32_t Load(std::size_t offset) const {
    std::uint32_t value;
    std::memcpy(&value, raw_ + offset, sizeof value);
    return value;
  }
  unsigned char* raw() { return raw_; }
  Channel& channel() { return *channel_; }
  const Link& link() const { return link_; }

 private:
  Link link_;
  UniqueFd page_fd_, bell_, owner_bell_, pipe_read_;
  std::unique_ptr<Channel> channel_;
  unsigned char* raw_ = nullptr;  // mapped until the process ends
};

int Hostile(const std::string& mode, const std::string& name) {
  if (mode == "pipebell") {
    RingPeer peer;
    if (!peer.Open(name, /*pipe_bell=*/true)) return kExitNoWindow;
    for (std::uint32_t sequence = 1; sequence <= 3; ++sequence) {
      if (!peer.Exchange(sequence)) return kExitWrongAnswer;
    }
    return peer.PipeUnrung() ? 0 : kExitWrongAnswer;
  }
  if (mode == "unsealed") {
    Link link;
    if (!Connect(name, &link)) return kExitNoWindow;
    UniqueFd page = UnsealedPage(), bell = NewBell();
    if (!page.valid() || !bell.valid() ||
        SendOffer(link.socket.get(), page.get(), bell.get()) != IoOutcome::kDone) {
      return kExitWrongAnswer;
    }
    return WaitForDrop(link.socket.get()) ? 0 : kExitNotDropped;
  }
  RingPeer peer;
  if (!peer.Open(name)) return kExitNoWindow;
  if (!peer.Exchange(1)) return kExitWrongAnswer;
  if (mode == "write") {
    peer.Store(kForwardWrite, peer.Load(kForwardWrite) + kChannelSlots + 1);
    peer.Wake();
  } else if (mode == "slot") {
    const std::uint32_t index = peer.Load(kForwardWrite);
    std::memset(peer.raw() + kForwardSlots + kFrameSize * (index % kChannelSlots), 0xEE,
                kFrameSize);
    peer.Store(kForwardWrite, index + 1);
    peer.Wake();
  } else if (mode == "read") {
    peer.Store(kBackwardRead, peer.Load(kBackwardRead) + 5);
    // The owner meets the lie when it puts its next reply.
    const Frame ask{FrameKind::kSend, ReplyStatus::kHandled, 2, peer.link().window, kEcho, 1, 1};
    if (peer.channel().Put(ask) != RingOutcome::kDone) return kExitWrongAnswer;
    peer.Wake();
  } else if (mode == "reoffer") {
    UniqueFd page, bell = NewBell();
    std::unique_ptr<Channel> second = Channel::Create(&page);
    if (second == nullptr ||
        SendOffer(peer.link().socket.get(), page.get(), bell.get()) != IoOutcome::kDone) {
      return kExitWrongAnswer;
    }
  } else {
    return kExitBadArguments;
  }
  return WaitForDrop(peer.link().socket.get()) ? 0 : kExitNotDropped;
}

int PostAndDie(const std::string& name, int count) {
  RingPeer peer;
  if (!peer.Open(name)) return kExitNoWindow;
  if (count > static_cast<int>(kChannelSlots) || !peer.WaitForAnswer()) return kExitWrongAnswer;
  // Long enough for the owner to stop spinning and block in poll().
  Sleep(100);
  for (int i = 1; i <= count; ++i) {
    const Frame post{FrameKind::kPost, ReplyStatus::kHandled,  0, peer.link().window,
                     kPosted,          static_cast<WPARAM>(i), 0};
    if (peer.channel().Put(post) != RingOutcome::kDone) return kExitWrongAnswer;
  }
  _exit(0);
}

int Posts(const std::string& name, int count) {
  const HWND target = FindWindowA(nullptr, name.c_str());
  if (target == 0) return kExitNoWindow;
  for (int i = 1; i <= count; ++i) {
    if (!PostMessageA(target, kPosted, static_cast<WPARAM>(i), 0)) return kExitWrongAnswer;
  }
  // No destructors, no orderly close: what was posted must still arrive.
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "posts") return Posts(argv[2], std::stoi(argv[3]));
  if (argc == 4 && std::string(argv[1]) == "postdie") {
    return PostAndDie(argv[2], std::stoi(argv[3]));
  }
  if (argc == 3) return Hostile(argv[1], argv[2]);
  return kExitBadArguments;
}
