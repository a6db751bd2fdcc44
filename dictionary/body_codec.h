// The lexeme codec: marked-up translation text (UTF-16 with structure marks
// U+0001..U+000C and the line break U+000D) to stored bodies (single-byte
// code pages with code-page groups) and back. Malformed input raises
// EBodyFormat with "Unexpected lexeme: #%d. Position %d." or
// "Lexeme #%d not finished. Position: %d.". The encoder writes only what the
// decoder reads back as written: a character that neither code page
// restores where it stands is stored as an escape (0F hex and its UTF-16
// unit; see body_codec.cpp), and an argument or raw character above U+00FF,
// or a character lexeme that does not hold exactly one character, is
// refused. So every accepted text round-trips unit for unit. Positions count
// from 1: UTF-16 units for the encoder, body bytes for the decoder.
#pragma once

#include <cstddef>
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

// What the encoder did beyond plain bytes, summed over the calls that share
// a report.
struct BodyReport {
  std::size_t escapes = 0;  // UTF-16 units stored as escapes
};

// first = the dictionary's Language (words), second = its TransLanguage.
// A body holding escapes needs a reader of format version 4.
std::string EncodeBody(std::uint16_t first, std::uint16_t second, WideView text,
                       BodyReport* report = nullptr);
WideString DecodeBody(std::uint16_t first, std::uint16_t second, std::string_view body);

}  // namespace vandrel
