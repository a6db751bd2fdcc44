// The transfer channel as both sides see it: the names of the shared
// objects that carry requests and answers, and the error codes of the
// channel (item 3 of an error answer). Every process that links the
// messaging core (service/transfer_man.h) uses these names, so a client and
// a service meet in the same objects; they must never change.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

// The shared counter from which every process takes its transfer buffer
// numbers.
inline constexpr const char* kTransferIdName = "Vandrel_TransferID";

// The shared memory of transfer buffer number buffer_id: the number's 32
// bits in decimal, the same name on both ends whatever sign the 32-bit
// message parameter gives it.
inline std::string TransferBufferName(std::int32_t buffer_id) {
  return "Vandrel_Transfer" + std::to_string(static_cast<std::uint32_t>(buffer_id));
}

// Error codes of the transfer channel.
constexpr int kErrCreateTransferId = 1;  // "Creating NewTransferID failed: %s"
constexpr int kErrGrowBuffer = 2;        // "Growing transfer buffer failed: %s"
constexpr int kErrReadBuffer = 3;        // "Read transfer buffer failed: %s"
constexpr int kErrEmptyReadBuffer = 4;   // "Empty read buffer. Query %d"
constexpr int kErrWrongReadId = 5;       // "Wrong read ID. Query %d"

}  // namespace vandrel
