// Reads arbitrary bytes as a peer's transfer buffer with the checked reader.
// Input: byte 0 = number k of read operations (at most 32), the next k bytes
// the operations, the rest the buffer. An operation's low two bits choose
// integer, double, wide string or a bare id check; with bit 7 set it expects
// the id that is actually next in the buffer (so reads get past the id check
// and meet the length checks), otherwise bits 2..6 give the id. Every read
// must either succeed inside the buffer or fail with code 5.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "service/errors.h"
#include "service/transfer_man.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vandrel;
  if (size == 0) return 0;
  const std::size_t ops = std::min<std::size_t>(data[0] % 33, size - 1);
  const std::uint8_t* op = data + 1;
  // A copy of exactly the buffer's size, so that the sanitizer sees any read
  // past its end.
  std::vector<std::uint8_t> buffer(data + 1 + ops, data + size);
  const std::uint8_t* bytes = buffer.empty() ? nullptr : buffer.data();
  TTransferReader reader(bytes, buffer.size(), 77);
  try {
    reader.ReadAnswer();
  } catch (const ELocal& e) {
    if (e.HelpContext() != kErrWrongReadId || buffer.size() >= kAnswerSize) std::abort();
  }
  for (std::size_t i = 0; i < ops; ++i) {
    std::uint16_t id = static_cast<std::uint16_t>((op[i] >> 2) & 0x1F);
    const std::size_t at = reader.Position();
    if ((op[i] & 0x80) != 0 && at + 2 <= buffer.size()) std::memcpy(&id, bytes + at, 2);
    try {
      switch (op[i] & 3) {
        case 0:
          reader.ReadInteger(id);
          if (reader.Position() != at + kItemHeaderSize + 4) std::abort();
          break;
        case 1:
          reader.ReadDouble(id);
          if (reader.Position() != at + kItemHeaderSize + 8) std::abort();
          break;
        case 2: {
          const std::u16string s = reader.ReadWideString(id);
          if (reader.Position() != at + kItemHeaderSize + 2 * s.size()) std::abort();
          break;
        }
        default:
          reader.CheckItemId(id);
          if (reader.Position() != at) std::abort();
      }
    } catch (const ELocal& e) {
      if (e.HelpContext() != kErrWrongReadId || reader.Position() != at) std::abort();
    }
    if (reader.Position() > buffer.size() && buffer.size() >= kAnswerSize) std::abort();
  }
  return 0;
}
