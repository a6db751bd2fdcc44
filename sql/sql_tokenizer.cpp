// Statement tokenizer.
#include "sql/sql_tokenizer.h"

#include <limits>

#include "sql/sql_error.h"

namespace vandrel::sql {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool Token::Is(std::string_view keyword) const {
  if (kind != kTokenIdentifier || text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(keyword[i])) return false;
  }
  return true;
}

std::uint64_t Token::IntegerValue() const {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t v = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (v > (kMax - d) / 10) return kMax;
    v = v * 10 + d;
  }
  return v;
}

const Token& Tokenizer::Current() {
  if (!have_current_) {
    current_ = Read();
    have_current_ = true;
  }
  return current_;
}

void Tokenizer::Advance() {
  Current();
  have_current_ = false;
}

Token Tokenizer::Read() {
  const std::size_t n = text_.size();
  while (pos_ < n && text_[pos_] != '\0' && static_cast<unsigned char>(text_[pos_]) <= ' ') ++pos_;
  Token t;
  t.offset = pos_;
  if (pos_ >= n || text_[pos_] == '\0') {
    t.kind = kTokenEnd;
    return t;
  }
  const char c = text_[pos_];
  if (IsLetter(c)) {
    std::size_t e = pos_ + 1;
    while (e < n && (IsLetter(text_[e]) || IsDigit(text_[e]) || text_[e] == '$')) ++e;
    t.kind = kTokenIdentifier;
    t.text = std::string(text_.substr(pos_, e - pos_));
    pos_ = e;
    return t;
  }
  if (c == '[') {
    const std::size_t close = text_.find(']', pos_ + 1);
    if (close == std::string_view::npos) {
      RaiseSqlError("Missing right bracket after '" + std::string(text_.substr(pos_ + 1)) +
                    "' in " + context_);
    }
    t.kind = kTokenBracketed;
    t.text = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
    pos_ = close + 1;
    return t;
  }
  if (c == '\'' || c == '"') {
    std::size_t i = pos_ + 1;
    std::string s;
    for (;;) {
      if (i >= n) {
        RaiseSqlError(std::string(c == '\'' ? "Missing single quote after '"
                                            : "Missing double quote after '") +
                      std::string(text_.substr(pos_ + 1)) + "' in " + context_);
      }
      if (text_[i] == c) {
        if (i + 1 < n && text_[i + 1] == c) {
          s += c;
          i += 2;
          continue;
        }
        break;
      }
      s += text_[i++];
    }
    t.kind = kTokenQuoted;
    t.text = std::move(s);
    pos_ = i + 1;
    return t;
  }
  if (c == '#' && pos_ + 1 < n && IsDigit(text_[pos_ + 1])) {
    std::size_t e = pos_ + 1;
    while (e < n && IsDigit(text_[e])) ++e;
    t.kind = kTokenCharacter;
    t.text = std::string(text_.substr(pos_, e - pos_));
    pos_ = e;
    return t;
  }
  if (IsDigit(c) || (c == '.' && pos_ + 1 < n && IsDigit(text_[pos_ + 1]))) {
    std::size_t e = pos_;
    while (e < n && IsDigit(text_[e])) ++e;
    bool number = false;
    if (e < n && text_[e] == '.') {
      number = true;
      ++e;
      while (e < n && IsDigit(text_[e])) ++e;
    }
    if (e < n && (text_[e] == 'e' || text_[e] == 'E')) {
      std::size_t x = e + 1;
      if (x < n && (text_[x] == '+' || text_[x] == '-')) ++x;
      if (x < n && IsDigit(text_[x])) {
        while (x < n && IsDigit(text_[x])) ++x;
        e = x;
        number = true;
      }
    }
    t.kind = number ? kTokenNumber : kTokenInteger;
    t.text = std::string(text_.substr(pos_, e - pos_));
    pos_ = e;
    return t;
  }
  t.kind = static_cast<unsigned char>(c);
  t.text = std::string(1, c);
  ++pos_;
  return t;
}

}  // namespace vandrel::sql
