// The statement tokenizer: cuts SQL text into identifiers, bracketed names,
// quoted texts, character constants, integers, numbers and single
// characters. Numbers always use "." as the decimal separator, whatever the
// locale, and a comma is always a token of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel::sql {

enum TokenKind : int {
  kTokenEnd = 0,         // end of the text (or a NUL byte)
  kTokenIdentifier = 1,  // keywords are identifiers
  kTokenBracketed = 2,   // [name]
  kTokenQuoted = 3,      // 'text' or "text"; a doubled quote is one quote
  kTokenCharacter = 4,   // #digits
  kTokenInteger = 5,     // digits
  kTokenNumber = 6,      // 1.5, .5, 1e-3
  // Any other character is a token of its own, its kind the character's
  // code: '(' 40, ')' 41, ',' 44, ';' 59 ...
};

struct Token {
  int kind = kTokenEnd;
  std::string text;  // the identifier, the name or text between the
                     // delimiters, the digits, or the character itself
  std::size_t offset = 0;

  bool IsChar(char c) const { return kind == static_cast<unsigned char>(c) && kind > 6; }
  // Case-insensitive keyword test; false for every kind but identifiers.
  bool Is(std::string_view keyword) const;
  // The value of an integer token, saturated at UINT64_MAX (never wraps).
  std::uint64_t IntegerValue() const;
};

class Tokenizer {
 public:
  // text must outlive the tokenizer.
  explicit Tokenizer(std::string_view text) : text_(text) {}

  // The current token (read on the first call).
  const Token& Current();
  // Moves past the current token.
  void Advance();
  // The name the quote and bracket messages end with ("table", "table
  // column", "index column").
  void SetContext(std::string context) { context_ = std::move(context); }
  const std::string& Context() const { return context_; }

 private:
  Token Read();

  std::string_view text_;
  std::size_t pos_ = 0;
  Token current_;
  bool have_current_ = false;
  std::string context_ = "table";
};

}  // namespace vandrel::sql
