// Character maps and collation: language to charset and code page, the
// conversions, packed wide strings, the charset/byte maps and the word order.
#include "dictionary/charmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/exceptions.h"
#include "platform/nls.h"

namespace vandrel {
namespace {

std::string ErrorOf(auto&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "<no error>";
}

TEST(CharmapLanguages, CharsetOfALanguage) {
  EXPECT_EQ(LocaleToCharset(0x0419), 204);
  EXPECT_EQ(LocaleToCharset(0x0804), 134);
  EXPECT_EQ(LocaleToCharset(0x0404), 136);
  EXPECT_EQ(LocaleToCharset(0x0C04), 136);
  EXPECT_EQ(LocaleToCharset(0x0C1A), 204);
  EXPECT_EQ(LocaleToCharset(0x081A), 0);
  EXPECT_EQ(LocaleToCharset(0x041A), 0);
  EXPECT_EQ(LocaleToCharset(0x0412), 129);
  EXPECT_EQ(LocaleToCharset(0x0812), 130);
  EXPECT_EQ(LocaleToCharset(0x0411), 128);
  EXPECT_EQ(LocaleToCharset(0x041E), 222);
  EXPECT_EQ(LocaleToCharset(0x0427), 186);
  EXPECT_EQ(LocaleToCharset(0x0438), 0);
  EXPECT_EQ(ErrorOf([] { LocaleToCharset(0x0417); }), "Cannot convert Locale to Charset: 1047");
  EXPECT_EQ(ErrorOf([] { LocaleToCharset(0); }), "Cannot convert Locale to Charset: 0");
  EXPECT_EQ(ErrorOf([] { LocaleToCharset(0x042A); }), "Cannot convert Locale to Charset: 1066");
  EXPECT_EQ(ErrorOf([] { LocaleToCharset(0x0439); }), "Cannot convert Locale to Charset: 1081");
}

// Each language with a charset has a code page whose bytes of 80 hex and
// above carry that charset's characters: the conversions and the body
// encoder agree on which bytes mean what.
TEST(CharmapLanguages, CodePageOfEveryLanguageWithACharset) {
  for (std::uint16_t primary = 1; primary < 64; ++primary) {
    const auto lang = static_cast<std::uint16_t>(0x0400 | primary);
    std::uint8_t charset;
    try {
      charset = LocaleToCharset(lang);
    } catch (const Exception&) {
      continue;
    }
    SCOPED_TRACE(lang);
    const std::uint32_t cp = LocaleToCodePage(lang);
    const std::uint32_t expected = charset == 0     ? 1252
                                   : charset == 204 ? 1251
                                   : charset == 238 ? 1250
                                   : charset == 161 ? 1253
                                   : charset == 162 ? 1254
                                   : charset == 186 ? 1257
                                   : charset == 177 ? 1255
                                   : charset == 178 ? 1256
                                   : charset == 128 ? 932
                                   : charset == 129 ? 949
                                   : charset == 136 ? 950
                                   : charset == 222 ? 874
                                                    : 0;
    // Croatian and Farsi have charset 0 but the Central European and the
    // Arabic page.
    EXPECT_EQ(cp, lang == 0x0429 ? 1256u : lang == 0x041A ? 1250u : expected);
  }
  EXPECT_EQ(LocaleToCodePage(0x0804), 936u);
  EXPECT_EQ(LocaleToCodePage(0x00010407), 1252u);  // a sort identifier above the language
  EXPECT_EQ(LocaleToCodePage(0x042A), 1258u);
}

TEST(CharmapLanguages, UnknownLocalesAndNames) {
  EXPECT_EQ(LanguageName(0x0409), "English (United States)");
  EXPECT_EQ(LanguageName(0x0C1A), "Serbian (Cyrillic)");
  EXPECT_EQ(ErrorOf([] { LocaleToCodePage(0x0417); }),
            "Cannot convert Locale to Codepage: Language Neutral");
  // A known language with a sort it does not have.
  EXPECT_EQ(ErrorOf([] { LocaleToCodePage(0x00010409); }),
            "Cannot convert Locale to Codepage: English (United States)");
  EXPECT_EQ(ErrorOf([] { AnsiToWide(0x0417, "x"); }),
            "Cannot convert Locale to Codepage: Language Neutral");
  // Empty text needs no code page.
  EXPECT_EQ(AnsiToWide(0x0417, ""), u"");
}

TEST(CharmapConversions, OneCharacterPerByteInSingleBytePages) {
  EXPECT_EQ(AnsiToWide(0x0419, "\xCC\xE8\xF0"), u"\u041C\u0438\u0440");
  EXPECT_EQ(AnsiToWide(0x0409, "caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(AnsiToWide(0x0408, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  std::string s;
  EXPECT_TRUE(WideToAnsi(0x0419, u"\u041C\u0438\u0440", s));
  EXPECT_EQ(s, "\xCC\xE8\xF0");
  EXPECT_FALSE(WideToAnsi(0x0419, u"caf\u00E9", s));
  EXPECT_EQ(s, "caf?");
  s = "stale";
  EXPECT_TRUE(WideToAnsi(0x0409, u"", s));
  EXPECT_EQ(s, "");
  // Every byte string comes back unchanged, undefined bytes included.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (std::uint16_t lang :
       {0x0409, 0x0419, 0x0405, 0x0408, 0x041F, 0x040D, 0x0401, 0x0425, 0x041E, 0x042A}) {
    const WideString w = AnsiToWide(lang, all);
    ASSERT_EQ(w.size(), all.size());
    EXPECT_TRUE(WideToAnsi(lang, w, s)) << lang;
    EXPECT_EQ(s, all) << lang;
  }
}

// Double-byte pages cannot keep one character per byte; the lengths stay
// as the single-byte rule says, with zero padding, and a stored word comes
// back unchanged.
TEST(CharmapConversions, DoubleBytePagesKeepTheLengthRule) {
  const std::string nihon = "\x93\xFA\x96\x7B";  // two characters in 932
  const WideString w = AnsiToWide(0x0411, nihon);
  EXPECT_EQ(w, std::u16string(u"\u65E5\u672C\0\0", 4));
  std::string s;
  EXPECT_TRUE(WideToAnsi(0x0411, w, s));
  EXPECT_EQ(s, nihon);
  // Typed text: only whole characters that fit in one byte per character.
  EXPECT_FALSE(WideToAnsi(0x0411, u"\u65E5\u672C", s));
  EXPECT_EQ(s, "\x93\xFA");
  EXPECT_FALSE(WideToAnsi(0x0411, u"\u65E5", s));
  EXPECT_EQ(s, std::string(1, '\0'));
  EXPECT_TRUE(WideToAnsi(0x0412, u"abc", s));
  EXPECT_EQ(s, "abc");
  EXPECT_FALSE(WideToAnsi(0x0804, u"a\u0E01", s));
  EXPECT_EQ(s, "a?");
  // Any bytes: the result always has one character per byte.
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string bytes(1 + rng() % 40, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    for (std::uint16_t lang : {0x0411, 0x0412, 0x0804, 0x0404}) {
      const WideString x = AnsiToWide(lang, bytes);
      ASSERT_EQ(x.size(), bytes.size());
      WideToAnsi(lang, x, s);
      ASSERT_EQ(s.size(), x.size());
    }
  }
}

TEST(CharmapPacking, PackAndUnpack) {
  EXPECT_EQ(PackWide(u"A"), std::string("\x41\xF1", 2));
  EXPECT_EQ(UnpackWide(std::string("\x41\xF1", 2)), u"A");
  EXPECT_EQ(PackWide(std::u16string(1, u'\0')), std::string("\x00\xF1", 2));
  EXPECT_EQ(PackWide(u"\u0416"), std::string("\x16\x04", 2));
  EXPECT_EQ(PackWide(u""), "");
  // Latin-1 text carries no zero byte.
  const std::string packed = PackWide(u"caf\u00E9 na\u00EFve");
  EXPECT_EQ(packed.find('\0'), std::string::npos);
  EXPECT_EQ(UnpackWide(packed), u"caf\u00E9 na\u00EFve");
  // An odd last byte is dropped; a high byte of F1 does not survive.
  EXPECT_EQ(UnpackWide(std::string("\x41\xF1\x42", 3)), u"A");
  EXPECT_EQ(UnpackWide(PackWide(u"\uF141")), u"A");
  const std::u16string mixed = u"\u4E00\u20AC\U0001F600x";
  EXPECT_EQ(UnpackWide(PackWide(mixed)), mixed);
}

struct AnsiOf {
  bool ok;
  int charset;
  int byte;
};
AnsiOf Probe(char16_t ch) {
  std::uint8_t charset = 0, byte = 0;
  const bool ok = CharToAnsi(ch, charset, byte);
  return {ok, charset, byte};
}

TEST(CharmapCharToAnsi, FirstCodePageThatCarriesTheCharacter) {
  auto expect = [](char16_t ch, bool ok, int charset, int byte) {
    const AnsiOf a = Probe(ch);
    EXPECT_EQ(a.ok, ok) << std::hex << static_cast<int>(ch);
    EXPECT_EQ(a.charset, charset) << std::hex << static_cast<int>(ch);
    EXPECT_EQ(a.byte, byte) << std::hex << static_cast<int>(ch);
  };
  expect(u'A', true, 1, 0x41);
  expect(u'?', true, 1, 0x3F);
  expect(u'\u0416', true, 204, 0xC6);
  expect(u'\u00E9', true, 0, 0xE9);    // 1252 comes first
  expect(u'\u0159', true, 238, 0xF8);  // r caron: 1250
  expect(u'\u03A9', true, 161, 0xD9);  // Omega: 1253
  expect(u'\u011F', true, 162, 0xF0);  // g breve: 1254
  expect(u'\u0101', true, 186, 0xE2);  // a macron: 1257
  expect(u'\u05D0', true, 177, 0xE0);  // Alef: 1255
  expect(u'\u0627', true, 178, 0xC7);  // Arabic Alef: 1256
  expect(u'\uFF71', true, 128, 0xB1);  // half-width katakana: a single byte of 932
  expect(u'\u4E00', false, 1, 0x3F);   // two bytes in every page that has it
  expect(u'\u0E01', false, 1, 0x3F);   // Thai: not in the probed pages
  expect(static_cast<char16_t>(0xD800), false, 1, 0x3F);
}

// Whatever CharToAnsi answers, the byte read back in its charset's code page
// is the character: the encoder never writes a byte the decoder misreads.
TEST(CharmapCharToAnsi, AnswersConvertBack) {
  const std::pair<int, std::uint32_t> charset_pages[] = {
      {0, 1252},   {204, 1251}, {238, 1250}, {161, 1253}, {162, 1254}, {186, 1257},
      {177, 1255}, {178, 1256}, {128, 932},  {129, 949},  {134, 936},  {136, 950}};
  int found = 0;
  for (int block : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x20, 0xF7, 0xFF}) {
    for (int low = 0; low < 256; ++low) {
      const auto ch = static_cast<char16_t>(block << 8 | low);
      const AnsiOf a = Probe(ch);
      if (!a.ok) {
        EXPECT_EQ(a.byte, 0x3F);
        continue;
      }
      ++found;
      if (a.charset == 1) {
        EXPECT_LT(a.byte, 0x80);
        EXPECT_EQ(ch, static_cast<char16_t>(a.byte));
        continue;
      }
      EXPECT_GE(a.byte, 0x80);
      const auto* page = std::find_if(std::begin(charset_pages), std::end(charset_pages),
                                      [&](const auto& p) { return p.first == a.charset; });
      ASSERT_NE(page, std::end(charset_pages));
      const char b = static_cast<char>(a.byte);
      char16_t back = 0;
      ASSERT_EQ(win::MultiByteToWideChar(page->second, 0, &b, 1, &back, 1), 1);
      EXPECT_EQ(back, ch) << std::hex << static_cast<int>(ch);
    }
  }
  EXPECT_GT(found, 600);
}

TEST(CharmapCollation, CharWeightMasks) {
  EXPECT_EQ(CharWeight(u'a', kWeightPrimary), 0x08610000);
  EXPECT_EQ(CharWeight(u'a', kWeightCase), 0x08610008);
  EXPECT_EQ(CharWeight(u'A', kWeightCase), 0x08610002);
  EXPECT_EQ(CharWeight(u'\u00E9', kWeightDiacritic), 0x08B13200);
  EXPECT_EQ(CharWeight(u'\u00E9', 0xFFFFFFFF), 0x08B13208);
  EXPECT_EQ(CharWeight(u'\u4E00', kWeightCase), 0);
  EXPECT_EQ(CharWeight(u'\u0005', kWeightPrimary), 0x00050000);
}

TEST(CharmapCollation, WordOrder) {
  EXPECT_EQ(CompareWords(u"abc", u"ABC"), 1);
  EXPECT_EQ(CompareWords(u"ABC", u"abc"), -1);
  EXPECT_EQ(CompareWords(u"e", u"\u00E9"), 0);
  EXPECT_EQ(CompareWords(u"r\u00E9sum\u00E9", u"resume"), 0);
  EXPECT_EQ(CompareWords(u"ab", u"abc"), -1);
  EXPECT_EQ(CompareWords(u"", u""), 0);
  EXPECT_EQ(CompareWords(u"", u"a"), -1);
  // A letter outweighs case anywhere before it; length outweighs case.
  EXPECT_EQ(CompareWords(u"aa", u"Ab"), -1);
  EXPECT_EQ(CompareWords(u"a", u"AB"), -1);
  EXPECT_EQ(CompareWords(u"aB", u"Ab"), 1);
  // Unlisted characters weigh 0: before everything but U+0000.
  EXPECT_EQ(CompareWords(u"\u4E00", std::u16string(1, u'\x01')), -1);
  EXPECT_EQ(CompareWords(u"\u4E00", std::u16string(1, u'\0')), 0);
  EXPECT_EQ(CompareWords(u"\u4E00", u"\u4E01"), 0);
  EXPECT_EQ(CompareWords(u"x\u4E00", u"x "), -1);
  // Cyrillic after Latin; Yo with Ye.
  EXPECT_EQ(CompareWords(u"z", u"\u0430"), -1);
  EXPECT_EQ(CompareWords(u"\u0451", u"\u0435"), 0);
  EXPECT_EQ(CompareWeighted(u"\u0451", u"\u0435", kWeightDiacritic), 1);
}

// The one-pass word order against its definition (primary weights, then
// case), over words that share long prefixes, differ in case or accents
// only, hold equal characters that weigh differently from their case
// variants, and characters without weights.
TEST(CharmapCollation, WordOrderIsPrimaryThenCaseInOnePass) {
  const std::u16string letters = u"aAbB\u00E9\u00C9e\u0435\u0451\u4E00\u4E01 -'";
  std::mt19937 rng(11);
  const auto word = [&](const std::u16string& stem) {
    std::u16string w = stem;
    const std::size_t extra = rng() % 4;
    for (std::size_t i = 0; i < extra; ++i) w += letters[rng() % letters.size()];
    return w;
  };
  int checked = 0;
  for (int round = 0; round < 20000; ++round) {
    std::u16string stem;
    const std::size_t n = rng() % 6;
    for (std::size_t i = 0; i < n; ++i) stem += letters[rng() % letters.size()];
    const std::u16string a = word(stem);
    std::u16string b = word(stem);
    if (rng() % 3 == 0) {
      // The same word with one letter in another case or accent.
      b = a;
      if (!b.empty()) b[rng() % b.size()] = letters[rng() % letters.size()];
    }
    const int primary = CompareWeighted(a, b, kWeightPrimary);
    const int want = primary != 0 ? primary : CompareWeighted(a, b, kWeightCase);
    ASSERT_EQ(CompareWords(a, b), want) << round;
    ASSERT_EQ(CompareWords(b, a), -want) << round;
    checked += want != 0 && primary == 0;
  }
  EXPECT_GT(checked, 100) << "words that differ in case only were compared";
}

// The table engine orders words by the locale comparison (ignoring
// non-spacing marks) and the update merge relies on it agreeing with the
// dictionaries' own order.
TEST(CharmapCollation, LocaleComparisonAgreesWithWordOrder) {
  std::mt19937 rng(5);
  for (std::uint16_t lang : {0x0409, 0x0419, 0x0405, 0x0408}) {
    for (int i = 0; i < 5000; ++i) {
      std::string a(rng() % 6, ' '), b(rng() % 6, ' ');
      for (char& c : a) c = static_cast<char>(32 + rng() % 224);
      for (char& c : b) c = static_cast<char>(32 + rng() % 224);
      if (i % 3 == 0) b = a.substr(0, a.size() / 2) + b;
      const int engine =
          win::CompareStringA(lang, win::NORM_IGNORENONSPACE, a.data(), static_cast<int>(a.size()),
                              b.data(), static_cast<int>(b.size()));
      ASSERT_EQ(engine - 2, CompareWords(AnsiToWide(lang, a), AnsiToWide(lang, b)))
          << lang << " '" << a << "' '" << b << "'";
    }
  }
}

}  // namespace
}  // namespace vandrel
