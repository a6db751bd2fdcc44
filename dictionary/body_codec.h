// The lexeme codec: marked-up translation text (UTF-16 with structure marks
// U+0001..U+000C and the line break U+000D) to stored bodies (single-byte
// code pages with code-page groups) and back. Malformed input raises
// EBodyFormat with "Unexpected lexeme: #%d. Position %d." or
// "Lexeme #%d not finished. Position: %d.". The encoder writes only what the
// decoder reads back as written: a character that cannot be restored where
// it stands (see body_codec.cpp) is stored as "?", and an argument or raw
// character above U+00FF, or a character lexeme that does not hold exactly
// one character, is refused. Positions count from 1: UTF-16 units for the
// encoder, body bytes for the decoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dictionary/charmap.h"
#include "platform/exceptions.h"

namespace vandrel {

class EBodyFormat : public Exception {
 public:
  using Exception::Exception;
};

// first = the dictionary's Language (words), second = its TransLanguage.
std::string EncodeBody(std::uint16_t first, std::uint16_t second, WideView text);
WideString DecodeBody(std::uint16_t first, std::uint16_t second, std::string_view body);

}  // namespace vandrel
