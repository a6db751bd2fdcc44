// Reads arbitrary bytes as the answer of CR_LOOKUP or CR_PAGE with the
// client's decoders. Input: byte 0 bit 0 = a page (else a lookup), bit 1 =
// with translations; bytes 1-2 = the page size asked (little-endian); the
// rest the answer buffer. Every decode either gives an answer within what
// was asked or fails with the reader's code 5 or a count error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/cursor_answers.h"
#include "service/errors.h"
#include "service/transfer_man.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vandrel;
  if (size < 3) return 0;
  const bool page = (data[0] & 1) != 0;
  const bool with_trans = (data[0] & 2) != 0;
  const std::int32_t count = data[1] | (data[2] << 8);
  // A copy of exactly the buffer's size, so that the sanitizer sees any
  // read past its end.
  std::vector<std::uint8_t> buffer(data + 3, data + size);
  TTransferReader reader(buffer.empty() ? nullptr : buffer.data(), buffer.size(), -0x2C8B);
  std::int32_t carried = 0;
  try {
    if (page) {
      const client::TPageAnswer a = client::ReadPageAnswer(reader, count, with_trans, &carried);
      if (a.Words.size() > static_cast<std::size_t>(count)) std::abort();
      for (const client::TPageWord& w : a.Words) {
        if (w.Translations.size() != (with_trans ? w.Bases.size() : 0)) std::abort();
      }
    } else {
      const client::TLookupAnswer a = client::ReadLookupAnswer(reader, &carried);
      if (a.Translations.size() != a.State.Bases.size()) std::abort();
    }
  } catch (const ELocal& e) {
    if (e.HelpContext() != kErrWrongReadId) std::abort();
  } catch (const Exception&) {
    // A count out of its bounds.
  }
  if (reader.Position() > buffer.size() && buffer.size() >= kAnswerSize) std::abort();
  return 0;
}
