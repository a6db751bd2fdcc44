// The shared frame rings of one connection, with both ends in this process:
// the connecting side made by Create and the accepting side adopting the
// same page. Hostile writes go through a mapping of the page of our own, at
// the offsets of the layout table in platform/channel.h.
#include "platform/channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "tests/support/test_support.h"

namespace vandrel::win::detail {
namespace {

// Offsets of the layout table.
constexpr std::size_t kForward = 64;
constexpr std::size_t kBackward = 320;
constexpr std::size_t kWrite = 0;
constexpr std::size_t kRead = 64;
constexpr std::size_t kForwardSlots = kChannelHeaderBytes;
constexpr std::size_t kBackwardSlots = kForwardSlots + kFrameSize * kChannelSlots;

Frame Numbered(std::uint32_t n, FrameKind kind = FrameKind::kPost) {
  return Frame{kind,  ReplyStatus::kHandled, n, n * 3 + 1, n ^ 0x5A5A,
               n + 7, static_cast<LPARAM>(n)};
}

void ExpectSame(const Frame& got, const Frame& want) {
  EXPECT_EQ(got.kind, want.kind);
  EXPECT_EQ(got.status, want.status);
  EXPECT_EQ(got.sequence, want.sequence);
  EXPECT_EQ(got.hwnd, want.hwnd);
  EXPECT_EQ(got.message, want.message);
  EXPECT_EQ(got.wparam, want.wparam);
  EXPECT_EQ(got.lparam, want.lparam);
}

// Both ends of one page, and a raw view of it for writing what a hostile
// peer would.
class ChannelPair {
 public:
  ChannelPair() {
    connecting = Channel::Create(&fd);
    if (connecting == nullptr) return;
    void* p = mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    raw_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
  }
  ~ChannelPair() {
    if (raw_ != nullptr) munmap(raw_, kChannelBytes);
  }
  bool Ready() const { return connecting != nullptr && raw_ != nullptr; }
  bool Adopt() {
    accepting = Channel::Adopt(fd.get());
    return accepting != nullptr;
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
  // Writes a frame into a slot as the producer of that ring would (the
  // index is published separately).
  void RawPut(std::size_t slots, std::uint32_t index, const Frame& frame) {
    EncodeFrame(frame, raw_ + slots + kFrameSize * (index % kChannelSlots));
  }
  bool RawTake(std::size_t slots, std::uint32_t index, Frame* frame) const {
    return DecodeFrame(raw_ + slots + kFrameSize * (index % kChannelSlots), frame);
  }

  UniqueFd fd;
  std::unique_ptr<Channel> connecting;
  std::unique_ptr<Channel> accepting;

 private:
  unsigned char* raw_ = nullptr;
};

// Puts copies of a frame until the ring refuses one; how many it took
// (never more than a ring holds, even when the ring miscounts).
std::uint32_t Fill(Channel& c, std::uint32_t sequence) {
  std::uint32_t n = 0;
  while (n <= kChannelSlots && c.Put(Numbered(sequence)) == RingOutcome::kDone) ++n;
  return n;
}

// Takes frames until the ring has none; how many.
std::uint32_t Drain(Channel& c) {
  std::uint32_t n = 0;
  Frame f;
  while (n <= kChannelSlots && c.Take(&f) == RingOutcome::kDone) ++n;
  return n;
}

// Moves `count` numbered frames from one side to the other, putting in
// batches of up to `batch` before taking them; false at the first frame
// that is lost, reordered or refused.
bool Transfer(Channel& from, Channel& to, std::uint32_t first, std::uint32_t count,
              std::uint32_t batch) {
  std::uint32_t put = first, taken = first;
  const std::uint32_t end = first + count;
  while (taken != end) {
    for (std::uint32_t i = 0; i < batch && put != end; ++i, ++put) {
      if (from.Put(Numbered(put)) != RingOutcome::kDone) return false;
    }
    Frame f;
    while (taken != put && to.Take(&f) == RingOutcome::kDone) {
      if (f.sequence != taken || f.lparam != static_cast<LPARAM>(taken)) return false;
      ++taken;
    }
    if (taken != put) return false;
  }
  return !to.Readable();
}

TEST(Channel, FramesTravelBothWaysInOrderAcrossWrapArounds) {
  ChannelPair pair;
  ASSERT_TRUE(pair.Ready());
  ASSERT_TRUE(pair.Adopt());
  EXPECT_EQ(pair.connecting->side(), ChannelSide::kConnecting);
  EXPECT_EQ(pair.accepting->side(), ChannelSide::kAccepting);
  Frame f;
  EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kEmpty);
  EXPECT_EQ(pair.connecting->Take(&f), RingOutcome::kEmpty);
  EXPECT_FALSE(pair.accepting->Readable());

  // Every field of every kind arrives as it was put.
  const Frame reply{
      FrameKind::kReply, ReplyStatus::kNoWindow, 0xFFFFFFFF, 0x80000001, 0xFFFF, 0xFFFFFFFF, -1};
  ASSERT_EQ(pair.accepting->Put(reply), RingOutcome::kDone);
  EXPECT_TRUE(pair.connecting->Readable());
  EXPECT_FALSE(pair.accepting->Readable());  // the backward ring only
  ASSERT_EQ(pair.connecting->Take(&f), RingOutcome::kDone);
  ExpectSame(f, reply);

  // Batches of odd sizes move the indices across the 512 slots many times,
  // with the two directions interleaved.
  std::mt19937 random(7);
  std::uint32_t forward = 0, backward = 0;
  for (int round = 0; round < 200; ++round) {
    const std::uint32_t n = 1 + random() % kChannelSlots;
    ASSERT_TRUE(Transfer(*pair.connecting, *pair.accepting, forward, n, 1 + random() % n));
    forward += n;
    ASSERT_TRUE(Transfer(*pair.accepting, *pair.connecting, backward, n, n));
    backward += n;
  }
  EXPECT_GT(forward, 40 * kChannelSlots);

  // Exactly 512 frames wait in a full ring; one taken makes room for one.
  for (std::uint32_t i = 0; i < kChannelSlots; ++i) {
    ASSERT_EQ(pair.connecting->Put(Numbered(i)), RingOutcome::kDone) << i;
  }
  EXPECT_FALSE(pair.connecting->Writable());
  EXPECT_EQ(pair.connecting->Put(Numbered(9999)), RingOutcome::kFull);
  EXPECT_TRUE(pair.accepting->Writable());  // the other direction is free
  ASSERT_EQ(pair.accepting->Take(&f), RingOutcome::kDone);
  EXPECT_EQ(f.sequence, 0u);
  EXPECT_TRUE(pair.connecting->Writable());
  EXPECT_EQ(pair.connecting->Put(Numbered(kChannelSlots)), RingOutcome::kDone);
  EXPECT_EQ(pair.connecting->Put(Numbered(9999)), RingOutcome::kFull);
  for (std::uint32_t i = 1; i <= kChannelSlots; ++i) {
    ASSERT_EQ(pair.accepting->Take(&f), RingOutcome::kDone);
    ASSERT_EQ(f.sequence, i);  // the refused frames never entered
  }
  EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kEmpty);
}

// A peer that has carried nearly 2^32 frames each way before this side
// adopted the page: the indices run past 2^32 and back to 0 unnoticed.
TEST(Channel, AcceptingSideFollowsIndicesAcrossTheirIntegerRange) {
  ChannelPair pair;
  ASSERT_TRUE(pair.Ready());
  const std::uint32_t start = 0xFFFFFFFFu - 300;
  for (std::size_t ring : {kForward, kBackward}) {
    pair.Store(ring + kWrite, start);
    pair.Store(ring + kRead, start);
  }
  ASSERT_TRUE(pair.Adopt());
  Channel& side = *pair.accepting;
  // Forward: the test writes as the producer would, in batches.
  std::uint32_t write = start, next = 0;
  Frame f;
  for (int batch = 0; batch < 6; ++batch) {
    for (int i = 0; i < 100; ++i, ++write)
      pair.RawPut(kForwardSlots, write, Numbered(write - start));
    pair.Store(kForward + kWrite, write);
    while (next != write - start && side.Take(&f) == RingOutcome::kDone) {
      ASSERT_EQ(f.sequence, next++);
    }
    ASSERT_EQ(next, write - start);
    EXPECT_EQ(pair.Load(kForward + kRead), write);  // the peer sees what was taken
  }
  // Backward: this side fills the ring across 2^32, the test takes.
  std::uint32_t read = start;
  for (int round = 0; round < 3; ++round) {
    std::uint32_t put = 0;
    while (put <= kChannelSlots && side.Put(Numbered(put)) == RingOutcome::kDone) ++put;
    ASSERT_EQ(put, kChannelSlots);
    EXPECT_EQ(side.Put(Numbered(0)), RingOutcome::kFull);
    for (std::uint32_t i = 0; i < put; ++i, ++read) {
      ASSERT_TRUE(pair.RawTake(kBackwardSlots, read, &f));
      ASSERT_EQ(f.sequence, i);
    }
    pair.Store(kBackward + kRead, read);
  }
  EXPECT_LT(read, start);  // wrapped
}

// What a broken or hostile peer can write: each spoils only its ring, and
// neither Readable nor Writable hides it from the next Take or Put.
TEST(Channel, ImpossibleIndicesAndSlotsBreakTheRing) {
  Frame f;
  {
    // A write index more than a ring ahead of what was taken, or behind it.
    ChannelPair pair;
    ASSERT_TRUE(pair.Ready());
    ASSERT_TRUE(pair.Adopt());
    for (std::uint32_t i = 0; i < kChannelSlots; ++i) pair.RawPut(kForwardSlots, i, Numbered(i));
    pair.Store(kForward + kWrite, kChannelSlots);  // exactly full is still sound
    for (std::uint32_t i = 0; i < 3; ++i) ASSERT_EQ(pair.accepting->Take(&f), RingOutcome::kDone);
    pair.Store(kForward + kWrite, 3 + kChannelSlots + 1);
    EXPECT_TRUE(pair.accepting->Readable());
    EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kBroken);
    EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kBroken);
    pair.Store(kForward + kWrite, 2);  // behind the frames already taken
    EXPECT_TRUE(pair.accepting->Readable());
    EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kBroken);
    // The connecting side checks the backward ring the same way.
    pair.Store(kBackward + kWrite, 0x80000000u);
    EXPECT_TRUE(pair.connecting->Readable());
    EXPECT_EQ(pair.connecting->Take(&f), RingOutcome::kBroken);
  }
  {
    // A read index that claims more room than the ring has: ahead of the
    // frames put, or far behind them.
    ChannelPair pair;
    ASSERT_TRUE(pair.Ready());
    ASSERT_TRUE(pair.Adopt());
    for (std::uint32_t i = 0; i < 10; ++i)
      ASSERT_EQ(pair.accepting->Put(Numbered(i)), RingOutcome::kDone);
    pair.Store(kBackward + kRead, 11);
    EXPECT_TRUE(pair.accepting->Writable());
    EXPECT_EQ(pair.accepting->Put(Numbered(10)), RingOutcome::kBroken);
    pair.Store(kBackward + kRead, 10 - kChannelSlots - 1);
    EXPECT_EQ(pair.accepting->Put(Numbered(10)), RingOutcome::kBroken);
    EXPECT_EQ(pair.Load(kBackward + kWrite), 10u);  // nothing was published
    pair.Store(kForward + kRead, 1);
    EXPECT_TRUE(pair.connecting->Writable());
    EXPECT_EQ(pair.connecting->Put(Numbered(0)), RingOutcome::kBroken);
  }
  {
    // A slot whose bytes are not a frame: a wrong kind or status, or the
    // bytes that must stay 0.
    for (const auto& [byte, value] : {std::pair{0, 0}, {0, 4}, {1, 2}, {2, 1}, {3, 0x80}}) {
      ChannelPair pair;
      ASSERT_TRUE(pair.Ready());
      ASSERT_TRUE(pair.Adopt());
      ASSERT_EQ(pair.connecting->Put(Numbered(1)), RingOutcome::kDone);
      ASSERT_EQ(pair.connecting->Put(Numbered(2)), RingOutcome::kDone);
      ASSERT_EQ(pair.accepting->Take(&f), RingOutcome::kDone);
      pair.raw()[kForwardSlots + kFrameSize + static_cast<std::size_t>(byte)] =
          static_cast<unsigned char>(value);
      EXPECT_TRUE(pair.accepting->Readable());
      EXPECT_EQ(pair.accepting->Take(&f), RingOutcome::kBroken) << byte << "=" << value;
      EXPECT_EQ(pair.Load(kForward + kRead), 1u);  // the bad slot was not taken
    }
  }
}

// A page made by hand, as a hostile peer could pass it.
UniqueFd HandMadePage(off_t size, std::uint32_t magic, std::uint32_t slots, int seals) {
  UniqueFd fd(memfd_create("hand-made-page", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.valid() || ftruncate(fd.get(), size) != 0) return UniqueFd();
  const std::uint32_t header[2] = {magic, slots};
  if (pwrite(fd.get(), header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return UniqueFd();
  }
  if (seals != 0 && fcntl(fd.get(), F_ADD_SEALS, seals) != 0) return UniqueFd();
  return fd;
}

// Mappings of hand-made pages this process still holds.
int HandMadeMappings() {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);) {
    if (line.find("hand-made-page") != std::string::npos) ++count;
  }
  return count;
}

TEST(Channel, AdoptRefusesWhatIsNotASealedPageOfThisFormat) {
  constexpr auto kBytes = static_cast<off_t>(kChannelBytes);
  constexpr int kSealed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
  {
    UniqueFd good = HandMadePage(kBytes, kChannelMagic, kChannelSlots, F_SEAL_SHRINK);
    ASSERT_TRUE(good.valid());
    EXPECT_NE(Channel::Adopt(good.get()), nullptr);  // shrinking is all that must be sealed
  }
  struct Case {
    const char* what;
    UniqueFd fd;
  };
  Case cases[] = {
      {"unsealed", HandMadePage(kBytes, kChannelMagic, kChannelSlots, 0)},
      {"sealed against growing only",
       HandMadePage(kBytes, kChannelMagic, kChannelSlots, F_SEAL_GROW)},
      {"a frame short", HandMadePage(kBytes - kFrameSize, kChannelMagic, kChannelSlots, kSealed)},
      {"a page too long", HandMadePage(kBytes + 4096, kChannelMagic, kChannelSlots, kSealed)},
      {"wrong magic", HandMadePage(kBytes, kChannelMagic ^ 1, kChannelSlots, kSealed)},
      {"wrong slot count", HandMadePage(kBytes, kChannelMagic, kChannelSlots / 2, kSealed)},
      {"no slots", HandMadePage(kBytes, kChannelMagic, 0, kSealed)},
      // Writing is sealed: the page cannot be mapped for writing.
      {"write-sealed", HandMadePage(kBytes, kChannelMagic, kChannelSlots, kSealed | F_SEAL_WRITE)},
  };
  for (Case& c : cases) {
    ASSERT_TRUE(c.fd.valid()) << c.what;
    EXPECT_EQ(Channel::Adopt(c.fd.get()), nullptr) << c.what;
  }
  EXPECT_EQ(HandMadeMappings(), 0);  // a refused page is not left mapped

  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd pipe_read(pipe_fds[0]), pipe_write(pipe_fds[1]);
  EXPECT_EQ(Channel::Adopt(pipe_read.get()), nullptr);
  EXPECT_EQ(Channel::Adopt(-1), nullptr);

  // Files of the right size and header, on memory and on disk: nobody can
  // seal them, so any process that opens one could cut it.
  for (const std::string& base : {test::MemoryTempDir(), std::string()}) {
    test::ScratchDir dir("vandrel-page", base);
    const std::string path = dir.path() + "/page";
    UniqueFd file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(file.valid());
    ASSERT_EQ(ftruncate(file.get(), kBytes), 0);
    const std::uint32_t header[2] = {kChannelMagic, kChannelSlots};
    ASSERT_EQ(pwrite(file.get(), header, sizeof header, 0), static_cast<ssize_t>(sizeof header));
    EXPECT_EQ(Channel::Adopt(file.get()), nullptr) << path;
  }
}

// The wake-up flags, seen from both sides of both rings.
TEST(Channel, WakeFlagsAskForOneWakeUpPerSleep) {
  ChannelPair pair;
  ASSERT_TRUE(pair.Ready());
  ASSERT_TRUE(pair.Adopt());
  Channel& a = *pair.connecting;
  Channel& b = *pair.accepting;
  Frame f;
  for (int direction = 0; direction < 2; ++direction) {
    Channel& producer = direction == 0 ? a : b;
    Channel& consumer = direction == 0 ? b : a;
    SCOPED_TRACE(direction == 0 ? "forward" : "backward");
    // Nobody sleeps: no wake-up.
    ASSERT_EQ(producer.Put(Numbered(1)), RingOutcome::kDone);
    EXPECT_FALSE(producer.ConsumerNeedsWake());
    // A frame waits: the consumer must not sleep, and asks for nothing.
    EXPECT_FALSE(consumer.PrepareToSleep());
    EXPECT_FALSE(producer.ConsumerNeedsWake());
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);
    // An empty ring: it sleeps, and the next frame wakes it once.
    EXPECT_TRUE(consumer.PrepareToSleep());
    EXPECT_FALSE(consumer.ConsumerNeedsWake());  // its own outgoing ring is another
    ASSERT_EQ(producer.Put(Numbered(2)), RingOutcome::kDone);
    EXPECT_TRUE(producer.ConsumerNeedsWake());
    EXPECT_FALSE(producer.ConsumerNeedsWake());
    consumer.Awake();
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);
    // Awake takes the flag back: a consumer that woke by itself is not rung.
    EXPECT_TRUE(consumer.PrepareToSleep());
    consumer.Awake();
    ASSERT_EQ(producer.Put(Numbered(3)), RingOutcome::kDone);
    EXPECT_FALSE(producer.ConsumerNeedsWake());
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);

    // Room: a producer with room does not wait and asks for nothing.
    EXPECT_FALSE(producer.PrepareToWaitForRoom());
    ASSERT_EQ(producer.Put(Numbered(4)), RingOutcome::kDone);
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);
    EXPECT_FALSE(consumer.ProducerNeedsWake());
    ASSERT_EQ(Fill(producer, 5), kChannelSlots);
    // A full ring: it waits, and the consumer's next take wakes it once.
    EXPECT_TRUE(producer.PrepareToWaitForRoom());
    EXPECT_FALSE(producer.ProducerNeedsWake());  // its own incoming ring is another
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);
    EXPECT_TRUE(consumer.ProducerNeedsWake());
    EXPECT_FALSE(consumer.ProducerNeedsWake());
    producer.Awake();
    // Full again; a producer that woke by itself is not rung.
    ASSERT_EQ(producer.Put(Numbered(6)), RingOutcome::kDone);
    EXPECT_TRUE(producer.PrepareToWaitForRoom());
    producer.Awake();
    ASSERT_EQ(consumer.Take(&f), RingOutcome::kDone);
    EXPECT_FALSE(consumer.ProducerNeedsWake());
    ASSERT_EQ(Drain(consumer), kChannelSlots - 1);
  }
  // Each side tells the other where it runs; -1 until told.
  EXPECT_EQ(a.PeerCpu(), -1);
  EXPECT_EQ(b.PeerCpu(), -1);
  a.SetOwnCpu(3);
  EXPECT_EQ(b.PeerCpu(), 3);
  EXPECT_EQ(a.PeerCpu(), -1);
  b.SetOwnCpu(1);
  EXPECT_EQ(a.PeerCpu(), 1);
  a.SetOwnCpu(-1);
  EXPECT_EQ(b.PeerCpu(), -1);
}

// Two threads that sleep on eventfds by the flags' rules: every frame
// arrives in order, and no sleeper misses the wake-up it asked for (a poll
// that runs out of time while its ring is ready is a lost wake-up).
TEST(Channel, ThreadsThatSleepByTheFlagsMissNoWakeUp) {
  ChannelPair pair;
  ASSERT_TRUE(pair.Ready());
  ASSERT_TRUE(pair.Adopt());
  UniqueFd consumer_bell(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  UniqueFd producer_bell(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  ASSERT_TRUE(consumer_bell.valid() && producer_bell.valid());
  constexpr std::uint32_t kFrames = 100000;
  constexpr int kLongMs = 5000;
  std::atomic<int> lost{0};
  std::atomic<bool> stop{false};
  auto sleep_on = [&](int bell, const std::function<bool()>& ready) {
    pollfd p{bell, POLLIN, 0};
    if (poll(&p, 1, kLongMs) == 0 && ready()) ++lost;
    std::uint64_t count;
    (void)!read(bell, &count, sizeof count);
  };
  std::thread producer([&] {
    Channel& c = *pair.connecting;
    for (std::uint32_t i = 0; i < kFrames && !stop;) {
      if (c.Put(Numbered(i)) == RingOutcome::kDone) {
        ++i;
        if (c.ConsumerNeedsWake()) {
          const std::uint64_t one = 1;
          (void)!write(consumer_bell.get(), &one, sizeof one);
        }
        continue;
      }
      if (c.PrepareToWaitForRoom()) sleep_on(producer_bell.get(), [&] { return c.Writable(); });
      c.Awake();
    }
  });
  Channel& c = *pair.accepting;
  std::uint32_t next = 0;
  bool in_order = true;
  while (next < kFrames && in_order) {
    Frame f;
    const RingOutcome r = c.Take(&f);
    if (r == RingOutcome::kDone) {
      in_order = f.sequence == next && f.lparam == static_cast<LPARAM>(next);
      ++next;
      if (c.ProducerNeedsWake()) {
        const std::uint64_t one = 1;
        (void)!write(producer_bell.get(), &one, sizeof one);
      }
      continue;
    }
    if (r == RingOutcome::kBroken) break;
    if (c.PrepareToSleep()) sleep_on(consumer_bell.get(), [&] { return c.Readable(); });
    c.Awake();
  }
  stop = true;
  producer.join();
  EXPECT_TRUE(in_order) << "frame " << next - 1;
  EXPECT_EQ(next, kFrames);
  EXPECT_EQ(lost.load(), 0);
}

}  // namespace
}  // namespace vandrel::win::detail
