// The frame that carries one window message between two threads' endpoints
// (a sent message, its reply, or a posted message). Both ends run on the same
// machine, so fields are in host byte order. Every frame is exactly
// kFrameSize bytes and travels as one datagram of a SOCK_SEQPACKET Unix
// socket, so a receiver never sees half a frame.
//
// | offset | width | field                                               |
// |--------|-------|-----------------------------------------------------|
// | 0      | 1     | kind: 1 sent message, 2 posted message, 3 reply      |
// | 1      | 1     | status of a reply: 0 handled, 1 no such window       |
// | 2      | 2     | 0                                                    |
// | 4      | 4     | sequence number (a sent message and its reply)       |
// | 8      | 4     | window handle                                        |
// | 12     | 4     | message                                              |
// | 16     | 4     | first parameter                                      |
// | 20     | 4     | second parameter; the result in a reply              |
//
// These values are shared by every process of a session: never change them
// without changing every program that talks to the namespace.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/win_types.h"

namespace vandrel::win::detail {

constexpr std::size_t kFrameSize = 24;

enum class FrameKind : std::uint8_t { kSend = 1, kPost = 2, kReply = 3 };
enum class ReplyStatus : std::uint8_t { kHandled = 0, kNoWindow = 1 };

struct Frame {
  FrameKind kind = FrameKind::kSend;
  ReplyStatus status = ReplyStatus::kHandled;
  std::uint32_t sequence = 0;
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;  // the result in a reply
};

inline void EncodeFrame(const Frame& f, unsigned char* out) {
  out[0] = static_cast<unsigned char>(f.kind);
  out[1] = static_cast<unsigned char>(f.status);
  out[2] = 0;
  out[3] = 0;
  std::memcpy(out + 4, &f.sequence, 4);
  std::memcpy(out + 8, &f.hwnd, 4);
  std::memcpy(out + 12, &f.message, 4);
  std::memcpy(out + 16, &f.wparam, 4);
  std::memcpy(out + 20, &f.lparam, 4);
}

// False for bytes that are not a frame (wrong kind or status): the peer is
// broken or hostile and its connection is dropped.
inline bool DecodeFrame(const unsigned char* in, Frame* f) {
  if (in[0] < 1 || in[0] > 3 || in[1] > 1 || in[2] != 0 || in[3] != 0) return false;
  f->kind = static_cast<FrameKind>(in[0]);
  f->status = static_cast<ReplyStatus>(in[1]);
  std::memcpy(&f->sequence, in + 4, 4);
  std::memcpy(&f->hwnd, in + 8, 4);
  std::memcpy(&f->message, in + 12, 4);
  std::memcpy(&f->wparam, in + 16, 4);
  std::memcpy(&f->lparam, in + 20, 4);
  return true;
}

}  // namespace vandrel::win::detail
