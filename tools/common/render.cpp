// Rendering of marked-up translations.
#include "tools/common/render.h"

#include "platform/utf8.h"
#include "tools/common/markup.h"
#include "tools/common/tsv_source.h"

namespace vandrel::tools {
namespace {

constexpr const char* kReset = "\x1b[0m";

const char* SpanStyle(char16_t mark) {
  switch (mark) {
    case 4:
      return "\x1b[1m";
    case 5:
      return "\x1b[1m";
    case 6:
      return "\x1b[32m";
    case 7:
      return "\x1b[36m";
    case 8:
      return "\x1b[2m";
    case 9:
      return "\x1b[3m";
    case 12:
      return "\x1b[4m";
    default:
      return "";
  }
}

class Renderer {
 public:
  explicit Renderer(const RenderOptions& o) : o_(o) {}

  std::string Run(WideView t) {
    t_ = t;
    while (i_ < t_.size()) {
      char16_t u = t_[i_];
      if (u >= kMarkArg1 && u <= kMarkArg3) {
        Argument();
      } else if (u == kMarkBlock) {
        Block();
      } else if (u == kMarkRaw) {
        Raw();
      } else if (u == kMarkChar || (u >= kMarkSpan5 && u <= kMarkWordSpan)) {
        Span();
      } else {
        Unit(u);
        ++i_;
      }
    }
    return std::move(out_);
  }

 private:
  // The indentation of a line is written with its first character, so that
  // empty lines carry no trailing spaces.
  void BeginLine() {
    if (!line_start_) return;
    if (!first_line_) out_ += o_.indent;
    for (int k = 0; k < depth_; ++k) out_ += "  ";
    line_start_ = false;
    first_line_ = false;
  }
  void Style(const char* s) {
    BeginLine();
    if (o_.ansi && *s) out_ += s;
  }
  void EndStyle(const char* s) {
    if (o_.ansi && *s) out_ += kReset;
  }
  void NewLine() {
    if (line_start_) first_line_ = false;
    out_ += '\n';
    line_start_ = true;
  }
  // One unit of text, or a mark out of place, shown escaped.
  void Unit(char16_t u) {
    if (u == kLineBreak) return NewLine();
    BeginLine();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      static const char kDigits[] = "0123456789ABCDEF";
      out_ += "\\x";
      out_ += kDigits[u >> 4];
      out_ += kDigits[u & 0xF];
      return;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i_ + 1 < t_.size() && t_[i_ + 1] >= 0xDC00 &&
        t_[i_ + 1] <= 0xDFFF) {
      out_ += WideToUtf8(t_.substr(i_, 2));
      ++i_;
      return;
    }
    AppendUtf8(out_, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  void Text() {
    while (i_ < t_.size() && IsTextUnit(t_[i_])) {
      Unit(t_[i_]);
      ++i_;
    }
  }
  // Steps over the closing mark when it is there.
  void Closing(char16_t mark) {
    if (i_ < t_.size() && t_[i_] == mark) ++i_;
  }

  void Argument() {
    char16_t mark = t_[i_++];
    if (i_ >= t_.size()) return;
    Style("\x1b[2m");
    out_ += '[';
    EndStyle("\x1b[2m");
    Unit(t_[i_++]);
    Style("\x1b[2m");
    out_ += ']';
    EndStyle("\x1b[2m");
    Closing(mark);
  }
  void Span() {
    char16_t mark = t_[i_++];
    const char* style = SpanStyle(mark);
    Style(style);
    Text();
    EndStyle(style);
    Closing(mark);
  }
  void Block() {
    ++i_;
    if (!line_start_) NewLine();
    ++depth_;
    while (i_ < t_.size() && t_[i_] != kMarkBlock) {
      char16_t u = t_[i_];
      if (u == kMarkChar || (u >= kMarkSpan5 && u <= kMarkWordSpan)) {
        Span();
      } else if (IsTextUnit(u)) {
        Text();
      } else {
        Unit(u);
        ++i_;
      }
    }
    Closing(kMarkBlock);
    --depth_;
    if (i_ < t_.size()) NewLine();
  }
  void Raw() {
    ++i_;
    Style(SpanStyle(kMarkRaw));
    while (i_ < t_.size() && t_[i_] != kMarkRaw) {
      Unit(t_[i_]);
      ++i_;
    }
    EndStyle(SpanStyle(kMarkRaw));
    Closing(kMarkRaw);
  }

  const RenderOptions& o_;
  WideView t_;
  std::size_t i_ = 0;
  std::string out_;
  int depth_ = 0;
  bool line_start_ = true;
  bool first_line_ = true;
};

}  // namespace

std::string RenderTranslation(WideView text, const RenderOptions& options) {
  return Renderer(options).Run(text);
}

std::string RenderRaw(WideView text) { return EscapeField(text, false); }

std::string RenderPlain(WideView text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      static const char kDigits[] = "0123456789ABCDEF";
      out += "\\x";
      out += kDigits[u >> 4];
      out += kDigits[u & 0xF];
    } else {
      std::size_t j = i;
      while (j < text.size() && !(text[j] < 0x20 || (text[j] >= 0x7F && text[j] <= 0x9F))) ++j;
      out += WideToUtf8(text.substr(i, j - i));
      i = j - 1;
    }
  }
  return out;
}

}  // namespace vandrel::tools
