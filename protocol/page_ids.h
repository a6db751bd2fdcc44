// CR_LOOKUP and CR_PAGE: two cursor requests beyond the original protocol
// that answer in one exchange what a client would otherwise ask for step
// by step. Existing requests are unchanged.
//
// CR_LOOKUP = CR_LOCATE, then CR_GET_TRANS for every base holding the word
// found. The locate runs exactly as CR_LOCATE does, with the same state
// notification.
//
// Request:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 116  | wide string | the text                                           |
// | 123  | integer     | wide flag, low byte (0: the service's 8-bit code   |
// |      |             | page, as CR_LOCATE)                                |
//
// Answer:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 101  | integer     | the locate's result (0 or 1)                       |
// | 102  | integer     | K, the bases passed over because their file failed |
// | 128  | integer     | K times: the base's window, then                   |
// | 129  | wide string | "<file>: damaged (<place>)"                        |
// | 118  | integer     | the cursor's position afterwards                   |
// | 116  | wide string | its word (empty: no word)                          |
// | 120  | integer     | 1 when it is the last word                         |
// | 102  | integer     | M, the bases holding the word, as the state lists  |
// |      |             | them                                               |
// | then M times:                                                            |
// | 1    | integer     | the base's window                                  |
// | 101  | integer     | 0, or 223 when its translation could not be read   |
// | 117  | wide string | the translation, or the error's text               |
//
// CR_PAGE = up to N words of the merged list from the cursor's place, each
// with the bases holding it (and their translations when asked), the
// cursor moved onto the last of them: the words that N steps of CR_NEXT
// would pass (start 0), or the current word and N - 1 steps (start 1), or
// the word CR_LOCATE finds and N - 1 steps (start 2). The page ends early
// at the end of the list. The steps run as their own requests would; the
// client is sent the cursor's state once, after the last step, when it
// differs from the one it was sent last.
//
// Request:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 102  | integer     | N, at most this many words (0..10000)              |
// | 132  | integer     | start: 0, 1 or 2 (above)                           |
// | 133  | integer     | 1: with translations, 0: without                   |
// | 116  | wide string | start 2 only: the text to locate                   |
// | 123  | integer     | start 2 only: wide flag, as CR_LOOKUP              |
//
// Answer:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 101  | integer     | W, the number of words (0..N)                      |
// | 102  | integer     | K, the bases passed over during the steps (each    |
// |      |             | once)                                              |
// | 128  | integer     | K times: the base's window, then                   |
// | 129  | wide string | "<file>: damaged (<place>)"                        |
// | then W times:                                                            |
// | 116  | wide string | the word                                           |
// | 118  | integer     | its position (-1 for a found word, start 1)        |
// | 102  | integer     | M, the bases holding it, as the state lists them   |
// | 1    | integer     | M times: the base's window; with translations each |
// | 101  | integer     | followed by 0 or 223 and                           |
// | 117  | wide string | the translation or the error's text                |
// | then the cursor's state afterwards:                                      |
// | 118  | integer     | position                                           |
// | 116  | wide string | word                                               |
// | 120  | integer     | 1 when it is the last word                         |
// | 102  | integer     | M, the bases holding the word                      |
// | 1    | integer     | M times: the base's window                         |
//
// Errors: N out of range is code 227 "Bad page size %d", a start other
// than 0, 1, 2 code 228 "Bad page start %d". A step that fails as a whole
// (code 223, as its own request would) ends the request with that error;
// the client is sent the state the steps before it left.
#pragma once

#include <cstdint>

namespace vandrel {

constexpr std::uint16_t CR_LOOKUP = 0x2C8B;
constexpr std::uint16_t CR_PAGE = 0x2C8C;

constexpr std::uint16_t kItemPageStart = 132;  // integer
constexpr std::uint16_t kItemWithTrans = 133;  // integer

constexpr std::int32_t kPageAfterCurrent = 0;
constexpr std::int32_t kPageFromCurrent = 1;
constexpr std::int32_t kPageFromLocate = 2;

constexpr std::int32_t kMaxPageWords = 10000;

constexpr int kErrBadPageSize = 227;
constexpr int kErrBadPageStart = 228;

}  // namespace vandrel
