// CR_LOOKUP and CR_PAGE: two cursor requests beyond the original protocol
// that answer in one exchange what a client would otherwise ask for step
// by step. Existing requests are unchanged.
//
// Notifications. The steps change the cursor's state as their own requests
// would, and its linked client is told as it would be (QM_STATE, then
// QM_CHANGE, each a message of its own while the request runs), with one
// exception: a request of these two kinds that comes from the linked
// client's own window (sent by the process that owns it) and sets bit
// kCarryNotifications in its flag item (123 of CR_LOOKUP, 133 of CR_PAGE)
// is not sent them; its answer carries them instead (item 134: bit 0 the
// state notification, whose items are the answer's state; bit 1 the change
// notification), and the client applies them, state before change, as if
// they had arrived, once it has read the answer and before the call that
// asked returns. The request is then one message each way. Everything else is as before: the
// service's own change handlers run at once; inside an update bracket (QM_BEGINUPDATE) the change
// waits for the bracket's close as ever; a request that fails sends what it would have carried
// before its error answer; a request that arrives while the service waits on something else inside
// the request has what was kept sent before it runs; every other request, a request from another
// window and one without the bit get their notifications as sent messages.
//
// CR_LOOKUP = CR_LOCATE, then CR_GET_TRANS for every base holding the word
// found. The locate runs exactly as CR_LOCATE does, with the same state
// notification (or the state carried, above).
//
// Request:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 116  | wide string | the text                                           |
// | 123  | integer     | wide flag, low byte (0: the service's 8-bit code   |
// |      |             | page, as CR_LOCATE); bit kCarryNotifications: the  |
// |      |             | answer carries the notifications (above)           |
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
// | 134  | integer     | the notifications carried (kCarriedState,          |
// |      |             | kCarriedChange; 0 when they were sent)             |
//
// CR_PAGE = up to N words of the merged list from the cursor's place, each
// with the bases holding it (and their translations when asked), the
// cursor moved onto the last of them: the words that N steps of CR_NEXT
// would pass (start 0), or the current word and N - 1 steps (start 1), or
// the word CR_LOCATE finds and N - 1 steps (start 2). The page ends early
// at the end of the list. The steps run as their own requests would; the
// client is sent the cursor's state once, after the last step, when it
// differs from the one it was sent last (or the answer carries it, above).
//
// Request:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 102  | integer     | N, at most this many words (0..10000)              |
// | 132  | integer     | start: 0, 1 or 2 (above)                           |
// | 133  | integer     | low byte 1: with translations, 0: without; bit     |
// |      |             | kCarryNotifications as in CR_LOOKUP                |
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
// | 134  | integer     | the notifications carried, as CR_LOOKUP            |
//
// Errors: N out of range is code 227 "Bad page size %d", a start other
// than 0, 1, 2 code 228 "Bad page start %d". A step that fails as a whole
// (code 223, as its own request would) ends the request with that error;
// the client is sent the state the steps before it left, as a notification.
#pragma once

#include <cstdint>

namespace vandrel {

constexpr std::uint16_t CR_LOOKUP = 0x2C8B;
constexpr std::uint16_t CR_PAGE = 0x2C8C;

constexpr std::uint16_t kItemPageStart = 132;  // integer
constexpr std::uint16_t kItemWithTrans = 133;  // integer
constexpr std::uint16_t kItemCarried = 134;    // integer

// In the flag items 123 and 133: the client applies the notifications
// that the answer carries.
constexpr std::int32_t kCarryNotifications = 0x100;
// Bits of item 134.
constexpr std::int32_t kCarriedState = 1;
constexpr std::int32_t kCarriedChange = 2;

constexpr std::int32_t kPageAfterCurrent = 0;
constexpr std::int32_t kPageFromCurrent = 1;
constexpr std::int32_t kPageFromLocate = 2;

constexpr std::int32_t kMaxPageWords = 10000;

constexpr int kErrBadPageSize = 227;
constexpr int kErrBadPageStart = 228;

}  // namespace vandrel
