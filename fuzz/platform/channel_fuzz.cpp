// Reads arbitrary bytes as the shared page of a connection. Input: the bytes
// written over a fresh page from its start (header, both rings' indices and
// flags, then the slots; a short input leaves the rest as the page was
// made). Then the accepting side adopts the page, and both sides take until
// their ring is empty or broken and put until it is full or broken, and
// look at the wake-up flags. Every bound a sound ring keeps must hold:
// Adopt accepts exactly the pages whose header is this format's, no ring
// yields or takes more than its slots, a taken frame is a frame, and
// Readable / Writable agree with what Take and Put reported.
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/channel.h"

namespace {

using namespace vandrel::win::detail;
using vandrel::win::UniqueFd;

// Takes until the ring says no more; aborts on any broken bound.
void TakeAll(Channel& c) {
  for (std::uint32_t done = 0;; ++done) {
    Frame f;
    switch (c.Take(&f)) {
      case RingOutcome::kDone:
        if (done >= kChannelSlots) std::abort();  // more than a ring holds
        if (f.kind < FrameKind::kSend || f.kind > FrameKind::kReply ||
            f.status > ReplyStatus::kNoWindow) {
          std::abort();
        }
        break;
      case RingOutcome::kEmpty:
        if (c.Readable()) std::abort();
        return;
      case RingOutcome::kBroken:
        if (!c.Readable()) std::abort();  // a broken ring must not look idle
        return;
      case RingOutcome::kFull:
        std::abort();
    }
  }
}

// Puts until the ring says no more; aborts on any broken bound.
void PutAll(Channel& c) {
  const Frame frame{FrameKind::kReply, ReplyStatus::kHandled, 1, 2, 3, 4, 5};
  for (std::uint32_t done = 0;; ++done) {
    switch (c.Put(frame)) {
      case RingOutcome::kDone:
        if (done >= kChannelSlots) std::abort();
        break;
      case RingOutcome::kFull:
        if (c.Writable()) std::abort();
        return;
      case RingOutcome::kBroken:
        if (!c.Writable()) std::abort();
        return;
      case RingOutcome::kEmpty:
        std::abort();
    }
  }
}

void Exercise(Channel& c) {
  TakeAll(c);
  PutAll(c);
  c.PrepareToSleep();
  c.PrepareToWaitForRoom();
  c.ConsumerNeedsWake();
  c.ProducerNeedsWake();
  c.Awake();
  c.PeerCpu();
  TakeAll(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UniqueFd fd;
  std::unique_ptr<Channel> connecting = Channel::Create(&fd);
  if (connecting == nullptr) return 0;
  void* mapped = mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (mapped == MAP_FAILED) return 0;
  auto* page = static_cast<unsigned char*>(mapped);
  if (size > 0) std::memcpy(page, data, std::min(size, kChannelBytes));

  std::uint32_t header[2];
  std::memcpy(header, page, sizeof header);
  const bool sound_header = header[0] == kChannelMagic && header[1] == kChannelSlots;
  std::unique_ptr<Channel> accepting = Channel::Adopt(fd.get());
  if ((accepting != nullptr) != sound_header) std::abort();
  if (accepting != nullptr) Exercise(*accepting);
  // The side that made the page meets what the input says of its peer.
  Exercise(*connecting);
  munmap(mapped, kChannelBytes);
  return 0;
}
