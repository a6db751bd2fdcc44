// Decoding of the answers of CR_LOOKUP and CR_PAGE (protocol/page_ids.h),
// from the answer channel or from bare bytes (TTransferReader, for fuzzing).
// Every count is checked against its bound before it is used; a damaged or
// hostile answer raises Exception (a bad count) or the reader's ELocal
// (code 5, an item that is not there).
#pragma once

#include <cstdint>

#include "client/cursor_client.h"
#include "service/transfer_man.h"

namespace vandrel::client {

// *carried receives item 134: the notifications the answer carries.
TLookupAnswer ReadLookupAnswer(TTransferMan& in, std::int32_t* carried);
TLookupAnswer ReadLookupAnswer(TTransferReader& in, std::int32_t* carried);
// count and with_trans as the request asked.
TPageAnswer ReadPageAnswer(TTransferMan& in, std::int32_t count, bool with_trans,
                           std::int32_t* carried);
TPageAnswer ReadPageAnswer(TTransferReader& in, std::int32_t count, bool with_trans,
                           std::int32_t* carried);

}  // namespace vandrel::client
