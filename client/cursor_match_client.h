// MatchWords: the client's side of CR_MATCH (protocol/model_ids.h) - the
// words of the cursor's base set that answer a match strategy, in
// dictionary order, each with the bases that hold it. The cursor's own
// position does not change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/cursor_client.h"
#include "platform/win_types.h"

namespace vandrel::client {

struct TMatchedWord {
  std::u16string Word;
  std::vector<win::HWND> Bases;  // the set's order
};

// strategy: exact, prefix, nprefix, substring, suffix, glob, re, lev, lev2,
// soundex or word; limit: 0..100000. Raises EServiceError 224 for an
// unknown strategy, 225 for a pattern the strategy cannot read, 226 for a
// limit out of range.
std::vector<TMatchedWord> MatchWords(TCursorClient& cursor, std::u16string_view strategy,
                                     std::u16string_view text, std::int32_t limit);

}  // namespace vandrel::client
