// The lexeme codec: marked-up translation text (UTF-16 with structure marks
// U+0001..U+000C and the line break U+000D) to stored bodies (single-byte
// code pages with code-page groups) and back. Malformed input raises
// EBodyFormat with "Unexpected lexeme: #%d. Position %d." or
// "Lexeme #%d not finished. Position: %d.".
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
