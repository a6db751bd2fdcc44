// Message identifiers of the messaging core: the request range, the
// liveness ping and the requests that every linked object understands.
// These numbers travel between processes as window messages and must never
// change: clients built against them rely on every value.
#pragma once

#include <cstdint>

namespace vandrel {

// Requests lie in QM_FIRST..QM_LAST inclusive (11024..15023); a message
// with such an identifier carries a transfer buffer number in LParam and is
// answered with one. Every other identifier is an ordinary window message.
constexpr std::uint16_t QM_FIRST = 0x2B10;
constexpr std::uint16_t QM_LAST = 0x3AAF;

// Liveness check, not a request: the receiver echoes WParam as the result.
constexpr std::uint16_t QM_PING = 0x0465;

// Client to object: link the sender's window (WParam) to the object / end
// the link.
constexpr std::uint16_t QM_CONNECT = 0x2B11;
constexpr std::uint16_t QM_DISCONNECT = 0x2B12;

// Client to object: update brackets and dropping a pending change.
constexpr std::uint16_t QM_BEGINUPDATE = 0x2BDF;
constexpr std::uint16_t QM_ENDUPDATE = 0x2BE0;
constexpr std::uint16_t QM_CLEARCHANGE = 0x2BE3;

// Object to its linked peer: the object's state after a change, and the
// delivery of a change.
constexpr std::uint16_t QM_STATE = 0x2BE2;
constexpr std::uint16_t QM_CHANGE = 0x2BDD;

// Client to manager: the window handle of the base manager.
constexpr std::uint16_t QM_GETBASEMAN = 0x2C02;

// True for identifiers of the request range (low 16 bits of a message).
constexpr bool IsRequestId(std::uint32_t msg) {
  const std::uint16_t id = static_cast<std::uint16_t>(msg & 0xFFFFu);
  return id >= QM_FIRST && id <= QM_LAST;
}

}  // namespace vandrel
