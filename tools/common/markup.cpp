// Strict check of marked-up translation text.
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

std::string Hex4(char16_t u) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) s.push_back(kDigits[(u >> shift) & 0xF]);
  return s;
}

class Checker {
 public:
  explicit Checker(WideView text) : t_(text) {}

  std::optional<MarkupError> Run() {
    while (!error_ && i_ < t_.size()) {
      char16_t u = t_[i_];
      if (u >= kMarkArg1 && u <= kMarkArg3) {
        Argument();
      } else if (u == kMarkChar) {
        CharLexeme();
      } else if (u >= kMarkSpan5 && u <= kMarkWordSpan) {
        Span();
      } else if (u == kMarkBlock) {
        Block();
      } else if (u == kMarkRaw) {
        Raw();
      } else if (IsTextUnit(u)) {
        ++i_;
      } else {
        Unexpected();
      }
    }
    return error_;
  }

 private:
  void Fail(std::size_t at, std::string message) {
    if (!error_) error_ = MarkupError{at + 1, std::move(message)};
  }
  void Unexpected() {
    Fail(i_, "unexpected " + Hex4(t_[i_]) + " at position " + std::to_string(i_ + 1));
  }
  void NotClosed(std::size_t open) {
    Fail(open, "mark " + std::to_string(t_[open]) + " at position " + std::to_string(open + 1) +
                   " is not closed");
  }
  // Expects the closing mark equal to the one at open.
  void Close(std::size_t open) {
    if (i_ >= t_.size()) return NotClosed(open);
    if (t_[i_] != t_[open]) {
      if (IsTextUnit(t_[i_])) return NotClosed(open);
      return Unexpected();
    }
    ++i_;
  }
  void Text() {
    while (i_ < t_.size() && IsTextUnit(t_[i_])) ++i_;
  }

  void Argument() {
    std::size_t open = i_++;
    if (i_ >= t_.size()) return NotClosed(open);
    if (t_[i_] == 0 || t_[i_] > 0xFF) {
      return Fail(i_, "argument " + Hex4(t_[i_]) + " of mark " + std::to_string(t_[open]) +
                          " at position " + std::to_string(open + 1) + " is not U+0001..U+00FF");
    }
    ++i_;
    Close(open);
  }
  void CharLexeme() {
    std::size_t open = i_++;
    if (i_ >= t_.size()) return NotClosed(open);
    // One character: a surrogate pair is two units.
    const std::size_t units = t_[i_] >= 0xD800 && t_[i_] <= 0xDBFF && i_ + 1 < t_.size() &&
                                      t_[i_ + 1] >= 0xDC00 && t_[i_ + 1] <= 0xDFFF
                                  ? 2
                                  : 1;
    if (!IsTextUnit(t_[i_]) || i_ + units >= t_.size() || t_[i_ + units] != kMarkChar) {
      if (!IsTextUnit(t_[i_]) && t_[i_] != kMarkChar) return Unexpected();
      return Fail(open, "character lexeme at position " + std::to_string(open + 1) +
                            " must hold exactly one character");
    }
    i_ += units + 1;
  }
  void Span() {
    std::size_t open = i_++;
    Text();
    Close(open);
  }
  void Block() {
    std::size_t open = i_++;
    while (!error_) {
      if (i_ >= t_.size()) return NotClosed(open);
      char16_t u = t_[i_];
      if (u == kMarkBlock) {
        ++i_;
        return;
      }
      if (u == kMarkChar) {
        CharLexeme();
      } else if (u >= kMarkSpan5 && u <= kMarkWordSpan) {
        Span();
      } else if (IsTextUnit(u)) {
        Text();
      } else {
        return Unexpected();
      }
    }
  }
  void Raw() {
    std::size_t open = i_++;
    while (true) {
      if (i_ >= t_.size()) return NotClosed(open);
      char16_t u = t_[i_];
      if (u == kMarkRaw) {
        ++i_;
        return;
      }
      if (u < 0x20) return Unexpected();
      if (u > 0xFF) {
        return Fail(i_, "raw character " + Hex4(u) + " at position " + std::to_string(i_ + 1) +
                            " is above U+00FF");
      }
      ++i_;
    }
  }

  WideView t_;
  std::size_t i_ = 0;
  std::optional<MarkupError> error_;
};

}  // namespace

std::optional<MarkupError> CheckMarkup(WideView text) { return Checker(text).Run(); }

}  // namespace vandrel::tools
