// The datagrams of a connection besides frames (offer, answer, wake-up) and
// the bells, over a socket pair of the endpoints' kind. What a peer passes
// that it may not must be closed here, never kept or leaked.
#include "platform/endpoint.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/channel.h"

namespace vandrel::win::detail {
namespace {

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool CloseOnExec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

// Two connected sockets of the endpoints' kind.
struct SocketPair {
  SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
      a.reset(fds[0]);
      b.reset(fds[1]);
    }
  }
  UniqueFd a, b;
};

// Sends bytes with descriptors as a broken or hostile peer might.
bool SendRaw(int socket, const void* bytes, std::size_t size, const std::vector<int>& fds) {
  iovec iov{const_cast<void*>(bytes), size};
  std::vector<unsigned char> control(CMSG_SPACE(fds.size() * sizeof(int)));
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  if (!fds.empty()) {
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds.data(), fds.size() * sizeof(int));
  }
  return sendmsg(socket, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

TEST(Datagram, OfferAnswerAndWakeCarryWhatTheySay) {
  SocketPair s;
  ASSERT_TRUE(s.a.valid());
  UniqueFd page_fd;
  auto connecting = Channel::Create(&page_fd);
  ASSERT_NE(connecting, nullptr);
  UniqueFd connecting_bell = NewBell(), accepting_bell = NewBell();
  ASSERT_TRUE(connecting_bell.valid() && accepting_bell.valid());
  const int before = OpenDescriptors();

  Frame f;
  UniqueFd page, bell;
  EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kWouldBlock);
  ASSERT_EQ(SendOffer(s.a.get(), page_fd.get(), connecting_bell.get()), IoOutcome::kDone);
  ASSERT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kOffer);
  ASSERT_TRUE(page.valid() && bell.valid());
  // Nothing the peer passes may reach a program this process starts.
  EXPECT_TRUE(CloseOnExec(page.get()));
  EXPECT_TRUE(CloseOnExec(bell.get()));
  // The page is the connecting side's: a frame put there is taken here.
  auto accepting = Channel::Adopt(page.get());
  ASSERT_NE(accepting, nullptr);
  const Frame sent{FrameKind::kSend, ReplyStatus::kHandled, 77, 5, 0x401, 6, 7};
  ASSERT_EQ(connecting->Put(sent), RingOutcome::kDone);
  ASSERT_EQ(accepting->Take(&f), RingOutcome::kDone);
  EXPECT_EQ(f.sequence, 77u);
  EXPECT_EQ(f.lparam, 7);
  // The bell is the connecting side's: ringing it here wakes that side.
  ASSERT_TRUE(AdoptBell(bell.get()));
  RingBell(bell.get());
  EXPECT_TRUE(Readable(connecting_bell.get()));
  ClearBell(connecting_bell.get());

  UniqueFd answered;
  ASSERT_EQ(SendAnswer(s.b.get(), accepting_bell.get()), IoOutcome::kDone);
  ASSERT_EQ(ReceiveDatagram(s.a.get(), &f, &page, &answered), Datagram::kAnswer);
  ASSERT_TRUE(answered.valid());
  EXPECT_TRUE(CloseOnExec(answered.get()));
  ASSERT_TRUE(AdoptBell(answered.get()));
  RingBell(answered.get());
  EXPECT_TRUE(Readable(accepting_bell.get()));
  ClearBell(accepting_bell.get());

  ASSERT_EQ(SendWake(s.a.get()), IoOutcome::kDone);
  EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kWake);
  ASSERT_EQ(SendFrame(s.a.get(), sent), IoOutcome::kDone);
  EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kFrame);
  EXPECT_EQ(f.sequence, 77u);
  EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kWouldBlock);

  accepting.reset();
  page.reset();
  bell.reset();
  answered.reset();
  EXPECT_EQ(OpenDescriptors(), before);
  s.a.reset();
  EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &bell), Datagram::kClosed);
}

// Each of these ends the connection, and every descriptor it carried is
// closed on arrival.
TEST(Datagram, WrongDescriptorsEndTheConnectionAndLeakNothing) {
  UniqueFd page_fd;
  auto channel = Channel::Create(&page_fd);
  ASSERT_NE(channel, nullptr);
  UniqueFd bell = NewBell();
  ASSERT_TRUE(bell.valid());
  const int p = page_fd.get(), b = bell.get();
  unsigned char frame[kFrameSize];
  EncodeFrame(Frame{FrameKind::kPost, ReplyStatus::kHandled, 1, 2, 3, 4, 5}, frame);
  unsigned char offer[kOfferSize], answer[kOfferSize];
  {
    // The genuine bytes, taken from the senders themselves.
    SocketPair s;
    ASSERT_EQ(SendOffer(s.a.get(), p, b), IoOutcome::kDone);
    ASSERT_EQ(SendAnswer(s.a.get(), b), IoOutcome::kDone);
    ASSERT_EQ(recv(s.b.get(), offer, sizeof offer, 0), static_cast<ssize_t>(kOfferSize));
    ASSERT_EQ(recv(s.b.get(), answer, sizeof answer, 0), static_cast<ssize_t>(kOfferSize));
  }
  const unsigned char wake = 0;
  unsigned char bad_offer[kOfferSize];
  std::memcpy(bad_offer, offer, kOfferSize);
  bad_offer[4] ^= 1;  // another slot count
  struct Case {
    const char* what;
    const void* bytes;
    std::size_t size;
    std::vector<int> fds;
  };
  const Case cases[] = {
      {"a frame with a descriptor", frame, sizeof frame, {b}},
      {"a wake-up with a descriptor", &wake, 1, {b}},
      {"an offer with one descriptor", offer, sizeof offer, {p}},
      {"an offer with three descriptors", offer, sizeof offer, {p, b, b}},
      {"an offer with more than fit", offer, sizeof offer, {p, b, b, b, b, b, b}},
      {"an offer of another format", bad_offer, sizeof bad_offer, {p, b}},
      {"an answer with two descriptors", answer, sizeof answer, {b, b}},
      {"an answer without one", answer, sizeof answer, {}},
      {"an offer without any", offer, sizeof offer, {}},
      {"a short frame", frame, sizeof frame - 1, {}},
  };
  for (const Case& c : cases) {
    SocketPair s;
    ASSERT_TRUE(s.a.valid());
    const int before = OpenDescriptors();
    ASSERT_TRUE(SendRaw(s.a.get(), c.bytes, c.size, c.fds)) << c.what;
    Frame f;
    UniqueFd page, passed_bell;
    EXPECT_EQ(ReceiveDatagram(s.b.get(), &f, &page, &passed_bell), Datagram::kClosed) << c.what;
    EXPECT_FALSE(page.valid()) << c.what;
    EXPECT_FALSE(passed_bell.valid()) << c.what;
    EXPECT_EQ(OpenDescriptors(), before) << c.what;
  }
}

TEST(Datagram, BellsAreEventfdsThatRingAndClear) {
  UniqueFd blocking(eventfd(0, EFD_CLOEXEC));
  ASSERT_TRUE(blocking.valid());
  // A peer's bell is made non-blocking, so that ringing it never waits.
  EXPECT_TRUE(AdoptBell(blocking.get()));
  EXPECT_NE(fcntl(blocking.get(), F_GETFL) & O_NONBLOCK, 0);

  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd pipe_read(pipe_fds[0]), pipe_write(pipe_fds[1]);
  EXPECT_FALSE(AdoptBell(pipe_read.get()));
  EXPECT_FALSE(AdoptBell(pipe_write.get()));
  UniqueFd memfd(memfd_create("not-a-bell", MFD_CLOEXEC));
  ASSERT_TRUE(memfd.valid());
  EXPECT_FALSE(AdoptBell(memfd.get()));
  SocketPair s;
  EXPECT_FALSE(AdoptBell(s.a.get()));
  EXPECT_FALSE(AdoptBell(-1));

  UniqueFd bell = NewBell();
  ASSERT_TRUE(bell.valid());
  EXPECT_TRUE(CloseOnExec(bell.get()));
  EXPECT_FALSE(Readable(bell.get()));
  ClearBell(bell.get());  // nothing rang: returns at once
  RingBell(bell.get());
  RingBell(bell.get());
  EXPECT_TRUE(Readable(bell.get()));
  ClearBell(bell.get());  // one clear takes every ring
  EXPECT_FALSE(Readable(bell.get()));
  // A bell rung until its counter is full stays rung, and ringing it more
  // neither waits nor fails.
  const std::uint64_t almost = 0xFFFFFFFFFFFFFFFEull;
  ASSERT_EQ(write(bell.get(), &almost, sizeof almost), static_cast<ssize_t>(sizeof almost));
  RingBell(bell.get());
  EXPECT_TRUE(Readable(bell.get()));
  ClearBell(bell.get());
  EXPECT_FALSE(Readable(bell.get()));
}

}  // namespace
}  // namespace vandrel::win::detail
