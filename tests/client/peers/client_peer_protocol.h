// The requests that the client tests send to their peer programs.
#pragma once

#include <cstdint>

namespace vandrel::clientpeer {

// vandrel_client_peer's control window.
constexpr std::uint16_t RQ_INFO = 0x3200;  // -> 1 manager window, 2 service pid, 3 started (0/1)
constexpr std::uint16_t RQ_QUIT = 0x3201;  // disconnects from the service and ends the peer

// vandrel_object_server's window.
constexpr std::uint16_t RQ_NEW_COUNTER = 0x3300;  // -> 1 window of a new counter
constexpr std::uint16_t RQ_NEW_AUTO = 0x3301;     // -> 1 window of a new reference-counted object
constexpr std::uint16_t RQ_SERVER_QUIT = 0x3302;  // ends the server

// A counter (a change object whose state is item 1 = its value).
constexpr std::uint16_t RQ_BUMP = 0x3310;  // 1 count, 2 bracketed (0/1) -> 1 value
constexpr std::uint16_t RQ_FAIL = 0x3311;  // raises code 150 "counter refuses"
constexpr int kCounterErrorCode = 150;

}  // namespace vandrel::clientpeer
