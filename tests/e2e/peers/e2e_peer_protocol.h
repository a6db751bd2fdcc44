// The requests that the end-to-end tests send to vandrel_e2e_peer, a
// client program with one base set of its own.
#pragma once

#include <cstdint>

namespace vandrel::e2epeer {

// Item ids are those of the object model (model_ids.h) where they carry
// the same thing.
constexpr std::uint16_t PQ_OPEN = 0x3400;      // 104 file name -> 1 base window
constexpr std::uint16_t PQ_LOCATE = 0x3401;    // 116 text -> 101 result, 116 word, 117 translation
                                               // in the first base holding the word
constexpr std::uint16_t PQ_SET_NAME = 0x3402;  // 106 name: set on the first base
constexpr std::uint16_t PQ_PARAMS = 0x3403;    // -> 1 params received, 2 params-changed
                                               // received, 106 last name (first base)
constexpr std::uint16_t PQ_QUIT = 0x3404;      // closes the base set, disconnects, ends
constexpr std::uint16_t PQ_PAGE = 0x3405;      // 116 text, 102 count -> 102 N, N x 116 word:
                                               // the words beginning with text, one item each

}  // namespace vandrel::e2epeer
