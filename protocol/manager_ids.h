// What a client needs to find and address the service's manager: the name
// of its window, the protocol version it accepts, the items of its
// requests and its error codes. The service (service/manager.h) answers
// with them and the client objects (client/) send them; they travel between
// processes and must never change.
#pragma once

#include <cstdint>

namespace vandrel {

// Class and name of the manager's window, the only named window of the
// service: clients find the service by it.
inline constexpr const char* kManagerWindowClass = "STATIC";
inline constexpr const char* kManagerWindowName = "Vandrel_kstbpsd";

// Highest client protocol version the manager accepts.
constexpr std::int32_t kSupportedClientVersion = 1;

// Items of the manager's requests.
constexpr std::uint16_t kConnectVersionItem = 5;  // QM_CONNECT: integer
constexpr std::uint16_t kConnectNameItem = 6;     // QM_CONNECT: wide string, version > 1 only
constexpr std::uint16_t kBaseManItem = 1;         // QM_GETBASEMAN answer: integer window

// Error codes of the manager.
constexpr int kErrVersionNotSupported = 101;  // "This version of %s not supports. ..."
constexpr int kErrSecondConnect = 102;        // "Second connect query from client"
constexpr int kErrNonClientDisconnect = 103;  // "Disconnect query from non-client"

}  // namespace vandrel
