// The shared page of one connection between two endpoints: a ring of frames
// in each direction, so that two threads that are both awake exchange
// messages through memory without a system call. The socket of the
// connection stays: it carries the page once (the connecting side's first
// datagram passes the page's descriptor), the one-byte wake-ups for a side
// that sleeps in poll(), and the end of the connection.
//
// Page layout (host byte order; kChannelBytes in all, a sealed memfd that
// can neither shrink nor grow):
//
// | offset | width | field                                                |
// |--------|-------|------------------------------------------------------|
// | 0      | 4     | magic "VCH1" (0x31484356)                            |
// | 4      | 4     | slots per ring (kChannelSlots)                       |
// | 64     | 64    | forward ring (connecting side -> accepting side)      |
// |        |       |   +0  write index, written by the producer           |
// |        |       |   +4  the processor the producer runs on, -1 asleep  |
// | 128    | 64    |   +64 read index, written by the consumer            |
// | 192    | 64    |   +128 consumer sleeps: set before it blocks         |
// | 256    | 64    |   +192 producer waits for room: set when it is full  |
// | 320    | 256   | backward ring (accepting -> connecting), as above    |
// | 576    | 24 x kChannelSlots | forward slots, one frame each (message_frame.h) |
// | ...    | 24 x kChannelSlots | backward slots                       |
//
// Indices run freely (modulo 2^32); slot = index % kChannelSlots. Each side
// trusts only the index it writes itself (it keeps its own copy) and checks
// the peer's: a ring that claims more than kChannelSlots frames, or a slot
// that is not a frame, is broken, and the connection is dropped. A peer can
// therefore only spoil its own connection, and a missing wake-up only costs
// time, never a message: a side that sleeps looks at its rings whenever it
// wakes, and its waits are bounded by its timers.
//
// Wake-ups (the order of these steps matters; every access is sequentially
// consistent):
// - A consumer about to block sets "consumer sleeps", then looks at the ring
//   once more and blocks only when it is still empty. A producer that has
//   published a frame takes the flag (exchange with 0) and, when it was set,
//   sends one wake-up datagram.
// - A producer whose ring is full sets "producer waits for room", then looks
//   once more. A consumer that has taken frames takes that flag and, when it
//   was set, sends one wake-up datagram.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/message_frame.h"
#include "platform/unique_handle.h"

namespace vandrel::win::detail {

inline constexpr std::uint32_t kChannelMagic = 0x31484356;  // "VCH1"
inline constexpr std::uint32_t kChannelSlots = 512;
inline constexpr std::size_t kChannelHeaderBytes = 576;
inline constexpr std::size_t kChannelBytes = kChannelHeaderBytes + 2 * kFrameSize * kChannelSlots;

// Which end of the connection a side is.
enum class ChannelSide : std::uint8_t {
  kConnecting,  // sends on the forward ring, reads the backward one
  kAccepting,   // the other way round
};

enum class RingOutcome {
  kDone,    // a frame was put or taken
  kEmpty,   // take: nothing waiting
  kFull,    // put: no room
  kBroken,  // the peer's index or slot is impossible: drop the connection
};

class Channel {
 public:
  // A fresh page for the connecting side, and the descriptor to pass to the
  // peer (sealed against shrinking, growing and further seals). Null on
  // failure, last error set; the connection then stays on its socket.
  static std::unique_ptr<Channel> Create(UniqueFd* page_fd);
  // Maps a page passed by the connecting side. Null when the descriptor is
  // not a page of exactly kChannelBytes sealed against shrinking, or its
  // header is not this format's: the peer is broken or hostile.
  static std::unique_ptr<Channel> Adopt(int page_fd);

  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  ChannelSide side() const { return side_; }

  // Producer: appends a frame to this side's outgoing ring.
  RingOutcome Put(const Frame& frame);
  // Consumer: takes the oldest frame of this side's incoming ring.
  RingOutcome Take(Frame* frame);
  // Consumer: true when a frame waits (or the ring is broken, which Take
  // then reports). Only reads memory: cheap enough for a spin.
  bool Readable() const;
  // Producer: true when the outgoing ring has room for a frame (or is
  // broken, which Put then reports).
  bool Writable() const;

  // Consumer, before it blocks: sets "consumer sleeps" on the incoming
  // ring; false (flag cleared again) when a frame arrived meanwhile.
  bool PrepareToSleep();
  // After a wait (as consumer and as producer): clears this side's flags.
  void Awake();
  // Producer, after Put: true when the consumer slept and must be woken
  // (the flag is taken, so one wake-up answers one sleep).
  bool ConsumerNeedsWake();

  // The processor this side runs on (-1 while it sleeps), for the peer:
  // two sides that share one processor must not spin for each other.
  void SetOwnCpu(int cpu);
  int PeerCpu() const;

  // Producer, before it blocks with frames it could not put: sets "producer
  // waits for room"; false (flag cleared) when room appeared meanwhile.
  bool PrepareToWaitForRoom();
  // Consumer, after Take: true when the producer waits for room and must be
  // woken (the flag is taken).
  bool ProducerNeedsWake();

 private:
  struct Ring;
  Channel(void* page, ChannelSide side);
  Ring& Outgoing() const;
  Ring& Incoming() const;
  unsigned char* OutgoingSlots() const;
  unsigned char* IncomingSlots() const;

  void* page_;
  ChannelSide side_;
  // This side's own indices; the shared copies are only for the peer.
  std::uint32_t put_index_ = 0;
  std::uint32_t take_index_ = 0;
};

}  // namespace vandrel::win::detail
