// The lexeme codec: marked-up translation text to stored bodies and back.
//
// Body grammar (m is the mark's own byte; TA/TB are the code pages of the
// word language and the translation language):
//
// | construct            | body bytes                                   | read back with        |
// |----------------------|----------------------------------------------|-----------------------|
// | argument, m = 1..3   | m, low byte of the argument                  | the byte's own code   |
// | character, m = 4     | 4, one text byte or one code-page group      | TB (group: TA)        |
// | span, m = 5..8       | m, text, m                                   | TB (groups: TA)       |
// | word span, m = 9     | 9, text, 9                                   | TA                    |
// | block, m = 11        | 11, text / characters / spans / groups, 11   | as the parts          |
// | raw span, m = 12     | 12, bytes from 20 hex up, 12                 | the byte's own code   |
// | text                 | bytes 0D and from 20 hex up                  | TB                    |
// | code-page group      | 0E, text, 0E                                 | TA                    |
// | escape               | 0F, UTF-16 unit low byte, high byte          | the unit itself       |
//
// An escape carries one text unit (0D, or 20 hex and up) that neither code
// page restores where it stands; a character above U+FFFF is two escapes,
// one per surrogate. It may stand wherever text may: top level, spans 5..9,
// blocks, character lexemes (one escape, or two for a surrogate pair) and
// inside code-page groups; never in an argument lexeme or a raw span, whose
// bytes stay single low bytes. A file holding any escape carries format
// version 4 (dic_format.h).
//
// A 0E inside a group only closes it, so a group cannot nest for the reader.
// The writer nevertheless nests a new group at every change of charset and
// closes them all when the text run ends; the reader's toggling makes that
// come out right as long as the run only alternates between the two
// languages' charsets. The writer therefore stores a character only where
// the reader restores exactly that character:
//   - in translation text (top level, characters, spans 5..8, blocks): a
//     character of the translation language's code page directly, one of
//     the word language's code page inside a group;
//   - in a word span (9): a character of the word language's code page;
// and writes "?" for any other character, as for one no code page holds.
// Argument and raw-span characters are stored as one low byte, so anything
// above U+00FF there is refused, and a character lexeme must hold exactly
// one character.
//
// Neither side recurses with the input: groups are counted, not nested calls,
// so hostile text cannot exhaust the stack.
#include "dictionary/body_codec.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace vandrel {
namespace {

constexpr char16_t kGroupMark = 14;
constexpr char16_t kEscapeMark = 15;
constexpr char16_t kCharMark = 4;
constexpr char16_t kWordSpanMark = 9;
constexpr char16_t kBlockMark = 11;
constexpr char16_t kRawMark = 12;
constexpr char16_t kLineBreak = 13;
constexpr std::uint8_t kUnknownByte = 0x3F;  // "?"

bool IsTextUnit(unsigned u) { return u == kLineBreak || u >= 32; }

[[noreturn]] void RaiseUnexpected(unsigned code, std::size_t index) {
  char text[96];
  std::snprintf(text, sizeof text, "Unexpected lexeme: #%u. Position %zu.", code, index + 1);
  throw EBodyFormat(text);
}

[[noreturn]] void RaiseNotFinished(unsigned code, std::size_t index) {
  char text[96];
  std::snprintf(text, sizeof text, "Lexeme #%u not finished. Position: %zu.", code, index + 1);
  throw EBodyFormat(text);
}

// The character each single byte reads back as in a language's code page.
// Bytes are converted one at a time so that position p of a body always
// decodes to one character, multi-byte code pages included.
using ByteTable = std::array<char16_t, 256>;

const ByteTable& TableFor(std::uint16_t language) {
  // Per thread, so that no lock is needed; a handful of languages at most.
  thread_local std::vector<std::pair<std::uint16_t, std::unique_ptr<ByteTable>>> cache;
  for (const auto& [id, table] : cache)
    if (id == language) return *table;
  LocaleToCodePage(language);  // an unknown language fails here, with its own message
  auto table = std::make_unique<ByteTable>();
  for (int b = 0; b < 256; ++b) {
    char16_t ch = kUnknownByte;
    try {
      WideString w = AnsiToWide(language, std::string(1, static_cast<char>(b)));
      if (!w.empty() && (w[0] != 0 || b == 0)) ch = w[0];
    } catch (const Exception&) {
      // A byte that the code page cannot convert on its own (a lone lead
      // byte of a double-byte page) reads back as "?".
    }
    (*table)[b] = ch;
  }
  cache.emplace_back(language, std::move(table));
  return *cache.back().second;
}

// The byte that reads back as ch in a code page (from 80 hex up), or 0.
// Sorted by character for a binary search; built from a ByteTable.
using ByteIndex = std::vector<std::pair<char16_t, std::uint8_t>>;

const ByteIndex& IndexFor(std::uint16_t language, const ByteTable& table) {
  thread_local std::vector<std::pair<std::uint16_t, std::unique_ptr<ByteIndex>>> cache;
  for (const auto& [id, index] : cache)
    if (id == language) return *index;
  auto index = std::make_unique<ByteIndex>();
  for (int b = 0x80; b < 256; ++b)
    if (table[b] != kUnknownByte) index->emplace_back(table[b], static_cast<std::uint8_t>(b));
  std::sort(index->begin(), index->end());
  cache.emplace_back(language, std::move(index));
  return *cache.back().second;
}

std::uint8_t FindByte(const ByteIndex& index, char16_t ch) {
  auto it = std::lower_bound(index.begin(), index.end(), std::pair<char16_t, std::uint8_t>(ch, 0));
  return it != index.end() && it->first == ch ? it->second : 0;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The units below 80 hex that text stores as their own byte on either
// side, whatever charset is current (CharToAnsi gives them no charset of
// their own, and bytes below 80 hex read back as themselves in every code
// page): most text, taken without a lookup.
using AsciiMap = std::array<bool, 0x80>;
const AsciiMap& DirectAscii() {
  static const AsciiMap direct = [] {
    AsciiMap d{};
    for (unsigned u = 0; u < 0x80; ++u) {
      std::uint8_t cs = kAnyCharset;
      std::uint8_t x = kUnknownByte;
      CharToAnsi(static_cast<char16_t>(u), cs, x);
      d[u] = IsTextUnit(u) && cs == kAnyCharset && x == u;
    }
    return d;
  }();
  return direct;
}

class Encoder {
 public:
  Encoder(std::uint16_t first, std::uint16_t second, WideView in, BodyReport* report)
      : first_(first),
        second_(second),
        cA_(LocaleToCharset(first)),
        cB_(LocaleToCharset(second)),
        in_(in),
        report_(report) {}

  std::string Run() {
    out_.reserve(in_.size() + in_.size() / 8);
    while (pos_ < in_.size()) {
      const unsigned u = in_[pos_];
      if (u >= 1 && u <= 3) {
        Argument();
      } else if (u == kCharMark) {
        CharLexeme();
      } else if (u >= 5 && u <= 8) {
        Span(false);
      } else if (u == kWordSpanMark) {
        Span(true);
      } else if (u == kBlockMark) {
        Block();
      } else if (u == kRawMark) {
        Raw();
      } else if (IsTextUnit(u)) {
        Text(false, SIZE_MAX);
      } else {
        RaiseUnexpected(u, pos_);
      }
    }
    return std::move(out_);
  }

 private:
  void Put(unsigned byte) { out_.push_back(static_cast<char>(byte)); }

  const ByteTable& TA() {
    if (!ta_) ta_ = &TableFor(first_);
    return *ta_;
  }
  const ByteTable& TB() {
    if (!tb_) tb_ = &TableFor(second_);
    return *tb_;
  }
  // The byte of ch in one side's code page (80 hex and up), or 0.
  std::uint8_t ByteOf(bool word_side, char16_t ch) {
    if (word_side) {
      if (!ia_) ia_ = &IndexFor(first_, TA());
      return FindByte(*ia_, ch);
    }
    if (!ib_) ib_ = &IndexFor(second_, TB());
    return FindByte(*ib_, ch);
  }

  void Escape(char16_t u) {
    Put(kEscapeMark);
    Put(u & 0xFF);
    Put(u >> 8);
    if (report_) ++report_->escapes;
  }

  // Whether byte x reads back as ch in the code page of the given side.
  bool ReadsBack(bool word_side, std::uint8_t x, char16_t ch) {
    if (x < 0x80) return x == ch;  // every code page of the table agrees below 80 hex
    return (word_side ? TA() : TB())[x] == ch;
  }

  // 1..3: the mark, the argument's low byte; the closing mark is skipped
  // whatever it is.
  void Argument() {
    const std::size_t start = pos_;
    const unsigned mark = in_[pos_];
    Put(mark);
    if (++pos_ >= in_.size()) RaiseNotFinished(mark, start);
    if (in_[pos_] > 0xFF) RaiseUnexpected(in_[pos_], pos_);
    Put(in_[pos_] & 0xFF);
    if (++pos_ >= in_.size()) RaiseNotFinished(mark, start);
    ++pos_;
  }

  // 4: exactly one character; the closing mark is skipped whatever it is.
  void CharLexeme() {
    const std::size_t start = pos_;
    Put(kCharMark);
    if (++pos_ >= in_.size()) RaiseNotFinished(kCharMark, start);
    if (!IsTextUnit(in_[pos_])) RaiseUnexpected(in_[pos_], pos_);
    // One character: a surrogate pair takes two units.
    const bool pair =
        IsHighSurrogate(in_[pos_]) && pos_ + 1 < in_.size() && IsLowSurrogate(in_[pos_ + 1]);
    Text(false, pair ? 2 : 1);
    if (pos_ >= in_.size()) RaiseNotFinished(kCharMark, start);
    if (IsTextUnit(in_[pos_])) RaiseUnexpected(in_[pos_], pos_);
    ++pos_;
  }

  // 5..8 (translation text) and 9 (word-language text): the closing mark
  // must be the opening one.
  void Span(bool word_side) {
    const std::size_t start = pos_;
    const unsigned mark = in_[pos_];
    Put(mark);
    ++pos_;
    Text(word_side, SIZE_MAX);
    if (pos_ >= in_.size()) RaiseNotFinished(mark, start);
    if (in_[pos_] != mark) RaiseUnexpected(in_[pos_], pos_);
    Put(mark);
    ++pos_;
  }

  void Block() {
    const std::size_t start = pos_;
    Put(kBlockMark);
    ++pos_;
    for (;;) {
      if (pos_ >= in_.size()) RaiseNotFinished(kBlockMark, start);
      const unsigned u = in_[pos_];
      if (u == kCharMark) {
        CharLexeme();
      } else if (u >= 5 && u <= 8) {
        Span(false);
      } else if (u == kWordSpanMark) {
        Span(true);
      } else if (u == kBlockMark) {
        Put(kBlockMark);
        ++pos_;
        return;
      } else if (IsTextUnit(u)) {
        Text(false, SIZE_MAX);
      } else {
        RaiseUnexpected(u, pos_);
      }
    }
  }

  void Raw() {
    const std::size_t start = pos_;
    Put(kRawMark);
    ++pos_;
    for (;;) {
      if (pos_ >= in_.size()) RaiseNotFinished(kRawMark, start);
      const unsigned u = in_[pos_];
      if (u == kRawMark) {
        Put(kRawMark);
        ++pos_;
        return;
      }
      if (u < 32 || u > 0xFF) RaiseUnexpected(u, pos_);
      Put(u);
      ++pos_;
    }
  }

  // A run of text units (at most `limit`). In translation text the writer
  // starts in the translation charset and opens a group (nested, as the
  // format has it) at every switch between the two languages' charsets;
  // all groups close when the run ends. Word-language text opens none. The
  // choice follows the per-block character maps first, so text that both
  // code pages carry is stored as it always was; what they would have lost
  // is looked up in the two code pages themselves, and escaped when
  // neither holds it.
  void Text(bool word_side, std::size_t limit) {
    std::size_t depth = 0;  // open groups; odd depth = the reader is in a group (word side)
    for (std::size_t done = 0; done < limit && pos_ < in_.size() && IsTextUnit(in_[pos_]);
         ++done, ++pos_) {
      const char16_t u = in_[pos_];
      if (u < 0x80 && direct_[u]) {
        Put(u);
        continue;
      }
      std::uint8_t cs = kAnyCharset;
      std::uint8_t x = kUnknownByte;
      CharToAnsi(u, cs, x);
      const bool in_word_side = word_side || (depth % 2 == 1);
      const std::uint8_t current = in_word_side ? cA_ : cB_;
      const std::uint8_t other = in_word_side ? cB_ : cA_;
      if (cs == kAnyCharset || cs == current) {
        if (ReadsBack(in_word_side, x, u)) {
          Put(x);
          continue;
        }
      } else if (!word_side && cA_ != cB_ && cs == other && ReadsBack(!in_word_side, x, u)) {
        // The other side of a translation run: a group switches the
        // reader's code page.
        Put(kGroupMark);
        ++depth;
        Put(x);
        continue;
      }
      if (const std::uint8_t y = ByteOf(in_word_side, u)) {
        Put(y);
      } else if (const std::uint8_t z = word_side ? 0 : ByteOf(!in_word_side, u)) {
        Put(kGroupMark);
        ++depth;
        Put(z);
      } else {
        Escape(u);
      }
    }
    out_.append(depth, static_cast<char>(kGroupMark));
  }

  const std::uint16_t first_;
  const std::uint16_t second_;
  const std::uint8_t cA_;
  const std::uint8_t cB_;
  const WideView in_;
  const AsciiMap& direct_ = DirectAscii();
  const ByteTable* ta_ = nullptr;
  const ByteTable* tb_ = nullptr;
  const ByteIndex* ia_ = nullptr;
  const ByteIndex* ib_ = nullptr;
  BodyReport* const report_;
  std::size_t pos_ = 0;
  std::string out_;
};

class Decoder {
 public:
  Decoder(std::uint16_t first, std::uint16_t second, std::string_view body)
      : ta_(TableFor(first)), tb_(TableFor(second)), in_(body) {}

  WideString Run() {
    out_.reserve(in_.size() + in_.size() / 4);
    while (pos_ < in_.size()) {
      const unsigned b = At(pos_);
      if (b >= 1 && b <= 3) {
        Argument();
      } else if (b == kCharMark) {
        CharLexeme();
      } else if (b >= 5 && b <= 8) {
        Span(tb_);
      } else if (b == kWordSpanMark) {
        Span(ta_);
      } else if (b == kBlockMark) {
        Block();
      } else if (b == kRawMark) {
        Raw();
      } else if (IsTextUnit(b) || b == kEscapeMark) {
        Text(tb_);
      } else if (b == kGroupMark) {
        Group();
      } else {
        RaiseUnexpected(b, pos_);
      }
    }
    return std::move(out_);
  }

 private:
  unsigned At(std::size_t i) const { return static_cast<std::uint8_t>(in_[i]); }
  void Put(char16_t ch) { out_.push_back(ch); }

  void Argument() {
    const std::size_t start = pos_;
    const unsigned mark = At(pos_);
    Put(mark);
    if (++pos_ >= in_.size()) RaiseNotFinished(mark, start);
    Put(At(pos_));
    ++pos_;
    Put(mark);
  }

  void CharLexeme() {
    const std::size_t start = pos_;
    Put(kCharMark);
    if (++pos_ >= in_.size()) RaiseNotFinished(kCharMark, start);
    if (At(pos_) == kGroupMark) {
      Group();
    } else if (At(pos_) == kEscapeMark) {
      // One character: a high surrogate takes its low one along.
      if (IsHighSurrogate(Escaped()) && in_.size() - pos_ >= 3 && At(pos_) == kEscapeMark &&
          IsLowSurrogate(static_cast<char16_t>(At(pos_ + 1) | At(pos_ + 2) << 8)))
        Escaped();
    } else {
      Put(tb_[At(pos_)]);
      ++pos_;
    }
    Put(kCharMark);
  }

  void Span(const ByteTable& table) {
    const std::size_t start = pos_;
    const unsigned mark = At(pos_);
    Put(mark);
    ++pos_;
    Text(table);
    if (pos_ >= in_.size()) RaiseNotFinished(mark, start);
    if (At(pos_) != mark) RaiseUnexpected(At(pos_), pos_);
    Put(mark);
    ++pos_;
  }

  void Block() {
    const std::size_t start = pos_;
    Put(kBlockMark);
    ++pos_;
    for (;;) {
      if (pos_ >= in_.size()) RaiseNotFinished(kBlockMark, start);
      const unsigned b = At(pos_);
      if (b == kCharMark) {
        CharLexeme();
      } else if (b >= 5 && b <= 8) {
        Span(tb_);
      } else if (b == kWordSpanMark) {
        Span(ta_);
      } else if (b == kBlockMark) {
        Put(kBlockMark);
        ++pos_;
        return;
      } else if (IsTextUnit(b) || b == kEscapeMark) {
        Text(tb_);
      } else if (b == kGroupMark) {
        Group();
      } else {
        RaiseUnexpected(b, pos_);
      }
    }
  }

  void Raw() {
    const std::size_t start = pos_;
    Put(kRawMark);
    for (;;) {
      if (++pos_ >= in_.size()) RaiseNotFinished(kRawMark, start);
      const unsigned b = At(pos_);
      if (b == kRawMark) {
        Put(kRawMark);
        ++pos_;
        return;
      }
      if (b < 32) RaiseUnexpected(b, pos_);
      Put(static_cast<char16_t>(b));
    }
  }

  void Text(const ByteTable& table) {
    while (pos_ < in_.size()) {
      const unsigned b = At(pos_);
      if (IsTextUnit(b)) {
        Put(table[b]);
        ++pos_;
      } else if (b == kEscapeMark) {
        Escaped();
      } else if (b == kGroupMark) {
        Group();
      } else {
        return;
      }
    }
  }

  // 0F, low byte, high byte: writes the unit and returns it. Only text
  // units may be escaped, so decoded text never gains a mark.
  char16_t Escaped() {
    const std::size_t start = pos_;
    if (in_.size() - pos_ < 3) RaiseNotFinished(kEscapeMark, start);
    const auto u = static_cast<char16_t>(At(pos_ + 1) | At(pos_ + 2) << 8);
    if (!IsTextUnit(u)) RaiseUnexpected(u, start);
    Put(u);
    pos_ += 3;
    return u;
  }

  // 0E, text read with the word language's code page, 0E. Writes nothing
  // for the two marks.
  void Group() {
    const std::size_t start = pos_;
    ++pos_;
    while (pos_ < in_.size()) {
      if (IsTextUnit(At(pos_))) {
        Put(ta_[At(pos_)]);
        ++pos_;
      } else if (At(pos_) == kEscapeMark) {
        Escaped();
      } else {
        break;
      }
    }
    if (pos_ >= in_.size()) RaiseNotFinished(kGroupMark, start);
    if (At(pos_) != kGroupMark) RaiseUnexpected(At(pos_), pos_);
    ++pos_;
  }

  const ByteTable& ta_;
  const ByteTable& tb_;
  const std::string_view in_;
  std::size_t pos_ = 0;
  WideString out_;
};

}  // namespace

std::string EncodeBody(std::uint16_t first, std::uint16_t second, WideView text,
                       BodyReport* report) {
  return Encoder(first, second, text, report).Run();
}

WideString DecodeBody(std::uint16_t first, std::uint16_t second, std::string_view body) {
  if (body.empty()) return {};
  return Decoder(first, second, body).Run();
}

}  // namespace vandrel
