// The lexeme codec: pinned bodies, exact error texts and positions, the
// escapes of characters that no code page restores where they stand, round
// trips of random marked-up text from every Unicode block in several
// language pairs, and damaged bodies.
#include "dictionary/body_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vandrel {
namespace {

constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::uint16_t kRussian = 0x0419;
constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kGreek = 0x0408;
constexpr std::uint16_t kJapanese = 0x0411;
constexpr std::uint16_t kCzech = 0x0405;

// "05 61 62" -> the bytes.
std::string Hex(const char* text) {
  std::string out;
  for (const char* p = text; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::string ToHex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c);
    out += buf;
  }
  return out;
}

std::string EncodeError(std::uint16_t first, std::uint16_t second, WideView text) {
  try {
    EncodeBody(first, second, text);
  } catch (const EBodyFormat& e) {
    return e.what();
  }
  return "(no error)";
}

std::string DecodeError(std::uint16_t first, std::uint16_t second, const std::string& body) {
  try {
    DecodeBody(first, second, body);
  } catch (const EBodyFormat& e) {
    return e.what();
  }
  return "(no error)";
}

struct Pinned {
  std::uint16_t first, second;
  WideString text;
  const char* body;
};

TEST(BodyCodecTest, PinnedBodiesBothWays) {
  const Pinned cases[] = {
      {kEnglish, kRussian, u"", ""},
      {kEnglish, kRussian,
       u"\x05"
       u"abc\x05",
       "05 61 62 63 05"},
      {kEnglish, kRussian,
       u"\x01"
       u"A\x01",
       "01 41"},
      {kEnglish, kRussian, u"\x03\x00E9\x03", "03 E9"},
      {kEnglish, kRussian, u"\u0434\u043E\u043C\r1", "E4 EE EC 0D 31"},
      // Translation text in the word language's charset goes in a group.
      {kRussian, kEnglish, u"dog \u0416", "64 6F 67 20 0E C6 0E"},
      {kEnglish, kRussian, u"\x04\u00E9\x04", "04 0E E9 0E"},
      {kEnglish, kRussian, u"\x04\u0416\x04", "04 C6"},
      // Every switch nests a group; all close at the end of the run.
      {kRussian, kEnglish, u"\u0416\u00E9\u0416!", "0E C6 0E E9 0E C6 21 0E 0E 0E"},
      {kEnglish, kRussian, u"\x0B\x09house\x09 \u0434\x0B", "0B 09 68 6F 75 73 65 09 20 E4 0B"},
      {kRussian, kEnglish, u"\x09\u0416\u0443\x09", "09 C6 F3 09"},
      {kGerman, kGreek, u"\x07\u03B1\u00FC\x07", "07 E1 0E FC 0E 07"},
      {kEnglish, kRussian, u"\x0C\u00E9! \x0C", "0C E9 21 20 0C"},
  };
  for (const Pinned& c : cases) {
    const std::string body = Hex(c.body);
    EXPECT_EQ(ToHex(EncodeBody(c.first, c.second, c.text)), ToHex(body)) << c.body;
    EXPECT_EQ(DecodeBody(c.first, c.second, body), c.text) << c.body;
  }
}

TEST(BodyCodecTest, RawSpanBytesReadAsTheirOwnCodes) {
  const std::uint16_t pairs[][2] = {
      {kEnglish, kRussian}, {kRussian, kEnglish}, {kGerman, kGreek}, {kJapanese, kEnglish}};
  for (const auto& p : pairs) {
    EXPECT_EQ(DecodeBody(p[0], p[1], Hex("0C E9 C6 0C")), u"\x0C\u00E9\u00C6\x0C");
    EXPECT_EQ(DecodeBody(p[0], p[1], Hex("02 C6")), u"\x02\u00C6\x02");
  }
}

TEST(BodyCodecTest, EncoderErrorsNameTheUnitAndItsPosition) {
  struct Case {
    WideString text;
    const char* message;
  };
  const Case cases[] = {
      {u"a\nb", "Unexpected lexeme: #10. Position 2."},
      {WideString(1, u'\0'), "Unexpected lexeme: #0. Position 1."},
      {u"\x0E", "Unexpected lexeme: #14. Position 1."},
      {u"ab\x1F", "Unexpected lexeme: #31. Position 3."},
      {u"\x05"
       u"ab",
       "Lexeme #5 not finished. Position: 1."},
      {u"x\x05"
       u"ab\x06",
       "Unexpected lexeme: #6. Position 5."},
      {u"\x09"
       u"ab\x05",
       "Unexpected lexeme: #5. Position 4."},
      {u"\x01", "Lexeme #1 not finished. Position: 1."},
      {u"z\x02"
       u"A",
       "Lexeme #2 not finished. Position: 2."},
      // Argument and raw-span characters are stored as one low byte.
      {u"\x01\u0416\x01", "Unexpected lexeme: #1046. Position 2."},
      {u"\x0C"
       u"a\u0416\x0C",
       "Unexpected lexeme: #1046. Position 3."},
      {u"\x0C"
       u"ab",
       "Lexeme #12 not finished. Position: 1."},
      {u"\x0C"
       u"a\rb\x0C",
       "Unexpected lexeme: #13. Position 3."},
      // A character lexeme holds exactly one character.
      {u"\x04", "Lexeme #4 not finished. Position: 1."},
      {u"\x04"
       u"a",
       "Lexeme #4 not finished. Position: 1."},
      {u"\x04\x04", "Unexpected lexeme: #4. Position 2."},
      {u"\x04"
       u"ab\x04",
       "Unexpected lexeme: #98. Position 3."},
      {u"\x0B\x01", "Unexpected lexeme: #1. Position 2."},
      {u"\x0B\x0C"
       u"x\x0C\x0B",
       "Unexpected lexeme: #12. Position 2."},
      {u"\x0B"
       u"abc",
       "Lexeme #11 not finished. Position: 1."},
      {u"\x0B\x04"
       u"a",
       "Lexeme #4 not finished. Position: 2."},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeError(kEnglish, kRussian, c.text), c.message);
}

TEST(BodyCodecTest, DecoderErrorsNameTheByteAndItsPosition) {
  struct Case {
    const char* body;
    const char* message;
  };
  const Case cases[] = {
      {"05 61 62", "Lexeme #5 not finished. Position: 1."},
      {"0A", "Unexpected lexeme: #10. Position 1."},
      {"00", "Unexpected lexeme: #0. Position 1."},
      {"61 0F", "Lexeme #15 not finished. Position: 2."},
      {"61 0F 41", "Lexeme #15 not finished. Position: 2."},
      // An escape carries text only: never a mark.
      {"0F 0A 00", "Unexpected lexeme: #10. Position 1."},
      {"05 0F 05 00 05", "Unexpected lexeme: #5. Position 2."},
      {"04 0F 0E 00", "Unexpected lexeme: #14. Position 2."},
      {"0E 0F 0F 00 0E", "Unexpected lexeme: #15. Position 2."},
      // Not in raw spans; 10 and 16 to 31 stay errors.
      {"0C 0F 41 00 0C", "Unexpected lexeme: #15. Position 2."},
      {"10", "Unexpected lexeme: #16. Position 1."},
      {"05 61 06", "Unexpected lexeme: #6. Position 3."},
      {"01", "Lexeme #1 not finished. Position: 1."},
      {"61 04", "Lexeme #4 not finished. Position: 2."},
      {"0E 41", "Lexeme #14 not finished. Position: 1."},
      {"0E 41 05", "Unexpected lexeme: #5. Position 3."},
      {"09 0E 41", "Lexeme #14 not finished. Position: 2."},
      {"0B 61", "Lexeme #11 not finished. Position: 1."},
      {"0B 01 0B", "Unexpected lexeme: #1. Position 2."},
      {"0B 0C", "Unexpected lexeme: #12. Position 2."},
      {"0C 61", "Lexeme #12 not finished. Position: 1."},
      {"0C 0D 0C", "Unexpected lexeme: #13. Position 2."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecodeError(kEnglish, kRussian, Hex(c.body)), c.message) << c.body;
}

TEST(BodyCodecTest, CharactersNoCodePageRestoresAreEscapedWhereverTextStands) {
  const Pinned cases[] = {
      // Top level: Greek in the Russian translations of an English dictionary.
      {kEnglish, kRussian, u"\u03B1\u0434", "0F B1 03 E4"},
      // Translation span, block.
      {kEnglish, kRussian, u"\x05\u0101\x05", "05 0F 01 01 05"},
      {kEnglish, kRussian, u"\x0B\u0259 \u0434\x0B", "0B 0F 59 02 20 E4 0B"},
      // Word-language span: Russian in an English-Russian dictionary.
      {kEnglish, kRussian, u"\x09\u0434a\x09", "09 0F 34 04 61 09"},
      {kRussian, kEnglish, u"\x09\u00E9\x09", "09 0F E9 00 09"},
      // Character lexemes: one escape, or two for a surrogate pair.
      {kJapanese, kEnglish, u"\x04\u65E5\x04", "04 0F E5 65"},
      {kEnglish, kRussian,
       u"\x04\U0001F600\x04\x04"
       u"a\x04",
       "04 0F 3D D8 0F 00 DE 04 61"},
      // Inside a code-page group: the group goes on after the escape.
      {kRussian, kEnglish, u"\u0416\u03B1\u0416", "0E C6 0F B1 03 C6 0E"},
      // Above U+FFFF: one escape per surrogate; a lone surrogate is kept too.
      {kGerman, kGreek, u"x\U0001D11E", "78 0F 34 D8 0F 1E DD"},
      {kGerman, kGreek, u"\xD800!", "0F 00 D8 21"},
      // The IPA of a pronunciation.
      {kEnglish, kEnglish, u"house [ha\u028As]", "68 6F 75 73 65 20 5B 68 61 0F 8A 02 73 5D"},
      // A character that the code page holds although the maps give it to
      // another charset first is stored as its byte, no escape.
      {kRussian, kCzech, u"\u00E9", "E9"},
  };
  for (const Pinned& c : cases) {
    const std::string body = Hex(c.body);
    BodyReport report;
    EXPECT_EQ(ToHex(EncodeBody(c.first, c.second, c.text, &report)), ToHex(body)) << c.body;
    EXPECT_EQ(report.escapes,
              static_cast<std::size_t>(std::count(body.begin(), body.end(), '\x0F')))
        << c.body;
    EXPECT_EQ(DecodeBody(c.first, c.second, body), c.text) << c.body;
  }
  // Not in argument lexemes or raw spans, whose characters are single bytes.
  EXPECT_EQ(EncodeError(kEnglish, kRussian, u"\x02\u0259\x02"),
            "Unexpected lexeme: #601. Position 2.");
  EXPECT_EQ(EncodeError(kEnglish, kRussian, u"\x0C\u03B1\x0C"),
            "Unexpected lexeme: #945. Position 2.");
  // Escaped units are never marks; an argument byte 0F is only an argument.
  EXPECT_EQ(DecodeBody(kEnglish, kRussian, Hex("01 0F")), u"\x01\x0F\x01");
  // A body without escapes reads the same in every version.
  BodyReport none;
  EncodeBody(kEnglish, kRussian, u"\u0434\u043E\u043C \u00E9", &none);
  EXPECT_EQ(none.escapes, 0u);
}

TEST(BodyCodecTest, LanguageErrorsPassThrough) {
  EXPECT_THROW(EncodeBody(0x0417, kEnglish, u"a"), Exception);
  EXPECT_EQ(DecodeBody(0x0417, kEnglish, ""), u"");
}

// Random marked-up text made of valid constructs.
class MarkupGenerator {
 public:
  MarkupGenerator(std::uint16_t first, std::uint16_t second, bool restorable_only,
                  std::uint32_t seed)
      : rng_(seed) {
    std::uint8_t cA = LocaleToCharset(first);
    std::uint8_t cB = LocaleToCharset(second);
    for (char16_t c = 32; c < 127; ++c) {
      trans_.push_back(c);
      word_.push_back(c);
    }
    trans_.push_back(u'\r');
    word_.push_back(u'\r');
    const std::pair<char16_t, char16_t> ranges[] = {{0x00A0, 0x017F}, {0x0384, 0x03CE},
                                                    {0x0401, 0x045F}, {0x2013, 0x203A},
                                                    {0xFF61, 0xFF9F}, {0x4E00, 0x4E10}};
    for (auto [lo, hi] : ranges) {
      for (char16_t c = lo; c <= hi; ++c) {
        std::uint8_t cs = 0, x = 0;
        const bool known = CharToAnsi(c, cs, x);
        if (!restorable_only) {
          trans_.push_back(c);
          word_.push_back(c);
          continue;
        }
        if (!known) continue;
        if (cs == cA || cs == cB) trans_.push_back(c);
        if (cs == cA) word_.push_back(c);
      }
    }
  }

  // Characters (one unit, or a surrogate pair) drawn for half of the text.
  void SetExtra(std::vector<WideString> extra) { extra_ = std::move(extra); }

  WideString Next() {
    WideString out;
    const int parts = Pick(8);
    for (int k = 0; k < parts; ++k) {
      switch (Pick(7)) {
        case 0:
          Text(out, trans_, 1 + Pick(8));
          break;
        case 1: {
          const char16_t mark = static_cast<char16_t>(1 + Pick(3));
          out += mark;
          out += static_cast<char16_t>(Pick(256));
          out += mark;
          break;
        }
        case 2:
          CharLexeme(out);
          break;
        case 3:
          Span(out, static_cast<char16_t>(5 + Pick(4)), trans_);
          break;
        case 4:
          Span(out, 9, word_);
          break;
        case 5: {
          out += u'\x0B';
          for (int n = Pick(4); n > 0; --n) {
            switch (Pick(4)) {
              case 0:
                Text(out, trans_, 1 + Pick(6));
                break;
              case 1:
                CharLexeme(out);
                break;
              case 2:
                Span(out, static_cast<char16_t>(5 + Pick(4)), trans_);
                break;
              case 3:
                Span(out, 9, word_);
                break;
            }
          }
          out += u'\x0B';
          break;
        }
        case 6: {
          out += u'\x0C';
          for (int n = Pick(6); n > 0; --n) out += static_cast<char16_t>(32 + Pick(224));
          out += u'\x0C';
          break;
        }
      }
    }
    return out;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  void Text(WideString& out, const std::vector<char16_t>& pool, int n) {
    for (; n > 0; --n) {
      if (!extra_.empty() && Pick(2) == 0)
        out += extra_[Pick(static_cast<int>(extra_.size()))];
      else
        out += pool[Pick(static_cast<int>(pool.size()))];
    }
  }
  void CharLexeme(WideString& out) {
    out += u'\x04';
    Text(out, trans_, 1);
    out += u'\x04';
  }
  void Span(WideString& out, char16_t mark, const std::vector<char16_t>& pool) {
    out += mark;
    Text(out, pool, Pick(8));
    out += mark;
  }

  std::mt19937 rng_;
  std::vector<char16_t> trans_;
  std::vector<char16_t> word_;
  std::vector<WideString> extra_;
};

const std::uint16_t kPairs[][2] = {
    {kEnglish, kRussian}, {kRussian, kEnglish}, {kGerman, kGreek}, {kJapanese, kEnglish}};

TEST(BodyCodecTest, RestorableTextRoundTrips) {
  for (const auto& pair : kPairs) {
    MarkupGenerator gen(pair[0], pair[1], true, pair[0] * 31 + pair[1]);
    for (int i = 0; i < 3000; ++i) {
      const WideString text = gen.Next();
      const std::string body = EncodeBody(pair[0], pair[1], text);
      ASSERT_EQ(DecodeBody(pair[0], pair[1], body), text)
          << std::hex << pair[0] << "/" << pair[1] << " body " << ToHex(body);
    }
  }
}

TEST(BodyCodecTest, TextFromEveryUnicodeBlockRoundTripsExactly) {
  // Every 256-character block of the basic plane (lone surrogates and
  // private use included) and every supplementary plane, mixed into every
  // construct that holds text.
  std::mt19937 rng(11);
  for (const auto& pair : kPairs) {
    MarkupGenerator gen(pair[0], pair[1], false, pair[1] * 17 + pair[0]);
    for (unsigned block = 0; block < 256 + 16; ++block) {
      std::vector<WideString> extra;
      for (int k = 0; k < 24; ++k) {
        if (block < 256) {
          const auto u = static_cast<char16_t>(block << 8 | rng() % 256);
          if (u == 13 || u >= 32) extra.push_back(WideString(1, u));
        } else {
          const char32_t c = (block - 255) << 16 | rng() % 0x10000;
          extra.push_back({static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                           static_cast<char16_t>(0xDC00 + (c & 0x3FF))});
        }
      }
      if (extra.empty()) continue;
      gen.SetExtra(std::move(extra));
      for (int i = 0; i < 24; ++i) {
        const WideString text = gen.Next();
        BodyReport report;
        const std::string body = EncodeBody(pair[0], pair[1], text, &report);
        ASSERT_EQ(DecodeBody(pair[0], pair[1], body), text)
            << std::hex << pair[0] << "/" << pair[1] << " block " << block << " body "
            << ToHex(body);
        ASSERT_LE(body.size(), 3 * text.size());
      }
    }
  }
}

TEST(BodyCodecTest, LongAlternationNeedsNoDeepStack) {
  WideString text;
  for (int i = 0; i < 200000; ++i) text += (i % 2 ? u'\u00E9' : u'\u0416');
  const std::string body = EncodeBody(kRussian, kEnglish, text);
  EXPECT_EQ(DecodeBody(kRussian, kEnglish, body), text);
}

TEST(BodyCodecTest, DamagedBodiesFailCleanly) {
  // Cut-short and random bodies either decode or raise the lexeme error.
  MarkupGenerator gen(kRussian, kEnglish, true, 5);
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    const std::string body = EncodeBody(kRussian, kEnglish, gen.Next());
    for (std::size_t n = 0; n <= body.size(); ++n) {
      try {
        DecodeBody(kRussian, kEnglish, body.substr(0, n));
      } catch (const EBodyFormat&) {
      }
    }
  }
  for (int i = 0; i < 20000; ++i) {
    std::string body(rng() % 24, '\0');
    for (auto& c : body) c = static_cast<char>(rng() % 3 == 0 ? rng() % 16 : rng());
    try {
      const WideString text = DecodeBody(kEnglish, kRussian, body);
      ASSERT_LE(text.size(), 2 * body.size());
    } catch (const EBodyFormat&) {
    }
  }
}

}  // namespace
}  // namespace vandrel
