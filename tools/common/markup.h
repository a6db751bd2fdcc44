// The marks of marked-up translation text and the check that a text keeps
// its shape when stored in a dictionary: the strict form of the grammar that
// the body codec accepts, without the forms the codec takes in but cannot
// give back (a character lexeme of several characters, a closing mark of
// another kind, argument and raw characters above U+00FF).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "dictionary/charmap.h"

namespace vandrel::tools {

// Marks (UTF-16 units below U+0020 with a meaning).
constexpr char16_t kMarkArg1 = 1;  // 1, 2, 3: argument lexemes "m c m"
constexpr char16_t kMarkArg3 = 3;
constexpr char16_t kMarkChar = 4;   // character lexeme: one character
constexpr char16_t kMarkSpan5 = 5;  // 5..8: translation spans
constexpr char16_t kMarkSpan8 = 8;
constexpr char16_t kMarkWordSpan = 9;  // text in the language of the words
constexpr char16_t kMarkBlock = 11;    // block of text, spans, characters
constexpr char16_t kMarkRaw = 12;      // raw characters U+0020..U+00FF
constexpr char16_t kLineBreak = 13;

// A text unit: the line break or any unit from U+0020 up.
inline bool IsTextUnit(char16_t u) { return u == kLineBreak || u >= 0x20; }

struct MarkupError {
  std::size_t position;  // 1-based unit position
  std::string message;   // "mark 5 at position 1 is not closed", ...
};

// nullopt when text is well formed.
std::optional<MarkupError> CheckMarkup(WideView text);

}  // namespace vandrel::tools
