// The shared frame rings of one connection: creating, sealing, checking and
// mapping the page, and the two rings' put, take and wake-up flags.
#include "platform/channel.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "platform/error.h"

namespace vandrel::win::detail {

// One direction's indices and flags, each on a cache line of its own so
// that the two sides do not fight over one line.
struct Channel::Ring {
  alignas(64) std::atomic<std::uint32_t> write;
  std::atomic<std::int32_t> producer_cpu;  // -1: asleep or not told
  alignas(64) std::atomic<std::uint32_t> read;
  alignas(64) std::atomic<std::uint32_t> consumer_sleeps;
  alignas(64) std::atomic<std::uint32_t> producer_waits;
};

namespace {

struct Header {
  std::uint32_t magic;
  std::uint32_t slots;
};

constexpr std::size_t kForwardRing = 64;
constexpr std::size_t kBackwardRing = kForwardRing + 256;
constexpr std::size_t kForwardSlots = kChannelHeaderBytes;
constexpr std::size_t kBackwardSlots = kForwardSlots + kFrameSize * kChannelSlots;

static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "the rings are shared between processes");

void* MapPage(int fd) {
  void* page = mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return page == MAP_FAILED ? nullptr : page;
}

}  // namespace

Channel::Channel(void* page, ChannelSide side) : page_(page), side_(side) {}

Channel::~Channel() { munmap(page_, kChannelBytes); }

std::unique_ptr<Channel> Channel::Create(UniqueFd* page_fd) {
  UniqueFd fd(memfd_create("vandrel-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.valid() || ftruncate(fd.get(), kChannelBytes) != 0 ||
      fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  void* page = MapPage(fd.get());
  if (page == nullptr) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  // A fresh memfd reads as zeros: both rings empty, nobody asleep.
  auto* header = static_cast<Header*>(page);
  header->slots = kChannelSlots;
  header->magic = kChannelMagic;
  auto channel = std::unique_ptr<Channel>(new Channel(page, ChannelSide::kConnecting));
  channel->Outgoing().producer_cpu.store(-1, std::memory_order_relaxed);
  channel->Incoming().producer_cpu.store(-1, std::memory_order_relaxed);
  *page_fd = std::move(fd);
  return channel;
}

std::unique_ptr<Channel> Channel::Adopt(int page_fd) {
  struct stat st {};
  // Without the seal the peer could cut the file under the mapping, and the
  // next access to the page would kill this process.
  const int seals = fcntl(page_fd, F_GET_SEALS);
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0 || fstat(page_fd, &st) != 0 ||
      !S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(kChannelBytes)) {
    return nullptr;
  }
  void* page = MapPage(page_fd);
  if (page == nullptr) return nullptr;
  Header header;
  std::memcpy(&header, page, sizeof header);
  if (header.magic != kChannelMagic || header.slots != kChannelSlots) {
    munmap(page, kChannelBytes);
    return nullptr;
  }
  auto channel = std::unique_ptr<Channel>(new Channel(page, ChannelSide::kAccepting));
  // The peer may have put frames already; this side starts where the page
  // says, and checks every later index against its own copy.
  channel->take_index_ = channel->Incoming().read.load();
  channel->put_index_ = channel->Outgoing().write.load();
  return channel;
}

Channel::Ring& Channel::Outgoing() const {
  auto* base = static_cast<unsigned char*>(page_);
  return *std::launder(reinterpret_cast<Ring*>(
      base + (side_ == ChannelSide::kConnecting ? kForwardRing : kBackwardRing)));
}

Channel::Ring& Channel::Incoming() const {
  auto* base = static_cast<unsigned char*>(page_);
  return *std::launder(reinterpret_cast<Ring*>(
      base + (side_ == ChannelSide::kConnecting ? kBackwardRing : kForwardRing)));
}

unsigned char* Channel::OutgoingSlots() const {
  return static_cast<unsigned char*>(page_) +
         (side_ == ChannelSide::kConnecting ? kForwardSlots : kBackwardSlots);
}

unsigned char* Channel::IncomingSlots() const {
  return static_cast<unsigned char*>(page_) +
         (side_ == ChannelSide::kConnecting ? kBackwardSlots : kForwardSlots);
}

RingOutcome Channel::Put(const Frame& frame) {
  Ring& ring = Outgoing();
  const std::uint32_t used = put_index_ - ring.read.load(std::memory_order_acquire);
  if (used > kChannelSlots) return RingOutcome::kBroken;
  if (used == kChannelSlots) return RingOutcome::kFull;
  EncodeFrame(frame, OutgoingSlots() + kFrameSize * (put_index_ % kChannelSlots));
  ++put_index_;
  // Sequentially consistent: the consumer's sleep flag is read after this
  // store is visible (see ConsumerNeedsWake).
  ring.write.store(put_index_);
  return RingOutcome::kDone;
}

RingOutcome Channel::Take(Frame* frame) {
  Ring& ring = Incoming();
  const std::uint32_t waiting = ring.write.load(std::memory_order_acquire) - take_index_;
  if (waiting > kChannelSlots) return RingOutcome::kBroken;
  if (waiting == 0) return RingOutcome::kEmpty;
  // A copy first: the peer may write the slot while this side decodes.
  unsigned char bytes[kFrameSize];
  std::memcpy(bytes, IncomingSlots() + kFrameSize * (take_index_ % kChannelSlots), kFrameSize);
  if (!DecodeFrame(bytes, frame)) return RingOutcome::kBroken;
  ++take_index_;
  ring.read.store(take_index_);
  return RingOutcome::kDone;
}

bool Channel::Readable() const {
  return Incoming().write.load(std::memory_order_acquire) != take_index_;
}

bool Channel::Writable() const {
  return put_index_ - Outgoing().read.load(std::memory_order_acquire) != kChannelSlots;
}

void Channel::SetOwnCpu(int cpu) { Outgoing().producer_cpu.store(cpu, std::memory_order_relaxed); }

int Channel::PeerCpu() const { return Incoming().producer_cpu.load(std::memory_order_relaxed); }

bool Channel::PrepareToSleep() {
  Ring& ring = Incoming();
  ring.consumer_sleeps.store(1);
  if (ring.write.load() == take_index_) return true;
  ring.consumer_sleeps.store(0);
  return false;
}

void Channel::Awake() {
  Incoming().consumer_sleeps.store(0, std::memory_order_relaxed);
  Outgoing().producer_waits.store(0, std::memory_order_relaxed);
}

bool Channel::ConsumerNeedsWake() {
  Ring& ring = Outgoing();
  // Cheap when the consumer is awake: a plain read before the exchange.
  return ring.consumer_sleeps.load() != 0 && ring.consumer_sleeps.exchange(0) != 0;
}

bool Channel::PrepareToWaitForRoom() {
  Ring& ring = Outgoing();
  ring.producer_waits.store(1);
  if (put_index_ - ring.read.load() == kChannelSlots) return true;
  ring.producer_waits.store(0);
  return false;
}

bool Channel::ProducerNeedsWake() {
  Ring& ring = Incoming();
  return ring.producer_waits.load() != 0 && ring.producer_waits.exchange(0) != 0;
}

}  // namespace vandrel::win::detail
