// The tab-separated source: escapes, directives, line errors, and the
// strict check of marked-up text.
#include "tools/common/tsv_source.h"

#include <gtest/gtest.h>

#include "platform/utf8.h"
#include "tools/common/languages.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

WideString Unescape(std::string_view s) {
  WideString w;
  std::string why;
  EXPECT_TRUE(UnescapeField(s, w, why)) << s << ": " << why;
  return w;
}

std::string UnescapeError(std::string_view s) {
  WideString w;
  std::string why;
  EXPECT_FALSE(UnescapeField(s, w, why)) << s;
  return why;
}

TEST(TsvEscape, EveryMarkAndControlCharacterRoundTrips) {
  WideString all;
  for (char16_t u = 0; u < 0x20; ++u) all += u;
  all += u"\\#x\x7F\u00e9\u0416\u20AC";
  std::string escaped = EscapeField(all, false);
  // Nothing a line or the field separator would break on stays literal.
  for (char c : escaped) {
    EXPECT_FALSE(c == '\t' || c == '\n' || c == '\r' || (c >= 0 && c < 0x20)) << int(c);
  }
  EXPECT_EQ(Unescape(escaped), all);
}

TEST(TsvEscape, DocumentedEscapes) {
  EXPECT_EQ(EscapeField(u"\x05"
                        u"a\x05\x0B\x0C\x0D\\",
                        false),
            "\\5a\\5\\b\\f\\n\\\\");
  EXPECT_EQ(Unescape("\\1A\\1\\9x\\9\\x0A\\x7f"),
            u"\x01"
            u"A\x01\x09x\x09\x0A\x7F");
  // A leading "#" is escaped in words only, where it would start a comment.
  EXPECT_EQ(EscapeField(u"#tag", true), "\\#tag");
  EXPECT_EQ(EscapeField(u"#tag", false), "#tag");
  EXPECT_EQ(EscapeField(u"a#", true), "a#");
  EXPECT_EQ(Unescape("\\#tag"), u"#tag");
  // Characters beyond the BMP survive as UTF-8.
  EXPECT_EQ(Unescape(EscapeField(u"\U0001F600", false)), u"\U0001F600");
}

TEST(TsvEscape, BadEscapesAreRefused) {
  EXPECT_NE(UnescapeError("abc\\").find("backslash at the end"), std::string::npos);
  EXPECT_NE(UnescapeError("\\q").find("unknown escape \\q"), std::string::npos);
  EXPECT_NE(UnescapeError("\\0").find("unknown escape"), std::string::npos);
  EXPECT_NE(UnescapeError("\\xG1").find("unknown escape"), std::string::npos);
  EXPECT_NE(UnescapeError("\\x4").find("unknown escape"), std::string::npos);
  EXPECT_NE(UnescapeError("a\xC3").find("invalid UTF-8"), std::string::npos);
  EXPECT_NE(UnescapeError("\xC0\xAF").find("invalid UTF-8"), std::string::npos);  // overlong "/"
  EXPECT_NE(UnescapeError("\xED\xA0\x80").find("invalid UTF-8"), std::string::npos);  // surrogate
}

TEST(TsvParse, EntriesDirectivesCommentsAndLineEnds) {
  std::string text =
      "\xEF\xBB\xBF# a comment\n"
      "#!name\tTest \\5dictionary\\5\n"
      "#!short-name\tT\n"
      "#!language\tru\n"
      "#!trans-language\t0x0409\n"
      "#!scrambled\t1\n"
      "#!compressed\tno\n"
      "\n"
      "word\t\\5tr\\5\r\n"
      "\\#hash\t\n"
      "last\tno newline at the end";
  Source s = ParseTsvSource(text, "t.tsv");
  ASSERT_EQ(s.entries.size(), 3u);
  EXPECT_EQ(s.entries[0].word, u"word");
  EXPECT_EQ(s.entries[0].trans, u"\x05tr\x05");
  EXPECT_EQ(s.entries[0].line, 9u);
  EXPECT_EQ(s.entries[1].word, u"#hash");
  EXPECT_EQ(s.entries[1].trans, u"");
  EXPECT_EQ(s.entries[2].trans, u"no newline at the end");
  EXPECT_EQ(*s.params.name,
            u"Test \x05"
            u"dictionary\x05");
  EXPECT_EQ(*s.params.short_name, u"T");
  EXPECT_FALSE(s.params.description.has_value());
  EXPECT_EQ(*s.params.language, 0x0419);
  EXPECT_EQ(*s.params.trans_language, 0x0409);
  EXPECT_TRUE(*s.params.scrambled);
  EXPECT_FALSE(*s.params.compressed);

  // What TsvDirectives writes reads back as the same values.
  std::string again = TsvDirectives(s.params) + TsvLine(u"#x\x09",
                                                        u"\x0B"
                                                        u"a\x0D"
                                                        u"b\x0B");
  Source t = ParseTsvSource(again, "again.tsv");
  EXPECT_EQ(t.params.name, s.params.name);
  EXPECT_EQ(t.params.language, s.params.language);
  EXPECT_EQ(t.params.trans_language, s.params.trans_language);
  EXPECT_EQ(t.params.scrambled, s.params.scrambled);
  EXPECT_EQ(t.params.compressed, s.params.compressed);
  ASSERT_EQ(t.entries.size(), 1u);
  EXPECT_EQ(t.entries[0].word, u"#x\x09");
  EXPECT_EQ(t.entries[0].trans,
            u"\x0B"
            u"a\x0D"
            u"b\x0B");
}

TEST(TsvParse, BadLinesAreReportedWithTheirNumbers) {
  std::string text =
      "good\tline\n"
      "no tab here\n"
      "two\ttabs\there\n"
      "bad\t\\5not closed\n"
      "#!colour\tred\n"
      "#!language\tklingon\n"
      "ok\t\\4ab\\4\n";
  try {
    ParseTsvSource(text, "s.tsv");
    FAIL() << "no error";
  } catch (const ESourceFormat& e) {
    std::string m = e.what();
    EXPECT_NE(m.find("s.tsv:2: no TAB"), std::string::npos) << m;
    EXPECT_NE(m.find("s.tsv:3: more than one TAB"), std::string::npos) << m;
    EXPECT_NE(m.find("s.tsv:4: translation: mark 5 at position 1 is not closed"), std::string::npos)
        << m;
    EXPECT_NE(m.find("s.tsv:5: unknown directive #!colour"), std::string::npos) << m;
    EXPECT_NE(m.find("s.tsv:6: unknown language 'klingon'"), std::string::npos) << m;
    EXPECT_NE(m.find("s.tsv:7: translation: character lexeme"), std::string::npos) << m;
    EXPECT_NE(m.find("6 bad lines"), std::string::npos) << m;
  }
}

TEST(Markup, WellFormedTextPasses) {
  for (WideView ok : {WideView(u""), WideView(u"plain\x0Dtext"),
                      WideView(u"\x01"
                               u"A\x01"),
                      WideView(u"\x03\x05\x03"), WideView(u"\x04\u00b0\x04"),
                      WideView(u"\x05\x05\x06"
                               u"a\x06\x07"
                               u"b\x07\x08"
                               u"c\x08\x09"
                               u"d\x09"),
                      WideView(u"\x0B"
                               u"t\x04x\x04\x05s\x05\x09w\x09\x0D\x0B"),
                      WideView(u"\x0C\u00ff raw \x0C"), WideView(u"\x0B\x0B")}) {
    EXPECT_FALSE(CheckMarkup(ok).has_value()) << CheckMarkup(ok)->message;
  }
}

TEST(Markup, MalformedTextIsRefusedWithItsPosition) {
  struct Case {
    WideView text;
    std::size_t position;
    const char* message;
  };
  const Case cases[] = {
      {u"a\x0A", 2, "unexpected U+000A at position 2"},
      {u"\x0E", 1, "unexpected U+000E"},
      {u"\x05"
       u"abc",
       1, "mark 5 at position 1 is not closed"},
      {u"\x05"
       u"a\x06",
       3, "unexpected U+0006"},
      {u"\x01", 1, "mark 1 at position 1 is not closed"},
      {u"\x01\u0416\x01", 2, "argument U+0416 of mark 1"},
      {u"\x02"
       u"ab",
       1, "mark 2 at position 1 is not closed"},
      {u"\x04\x04", 1, "must hold exactly one character"},
      {u"\x04"
       u"ab\x04",
       1, "must hold exactly one character"},
      {u"\x0B\x01"
       u"a\x01\x0B",
       2, "unexpected U+0001"},
      {u"\x0B\x0C\x0C\x0B", 2, "unexpected U+000C"},
      {u"\x0B"
       u"abc",
       1, "mark 11 at position 1 is not closed"},
      {u"\x0C"
       u"a\x0D\x0C",
       3, "unexpected U+000D"},
      {u"\x0C\u0416\x0C", 2, "raw character U+0416 at position 2 is above U+00FF"},
      {u"\x09"
       u"a",
       1, "mark 9 at position 1 is not closed"},
  };
  for (const Case& c : cases) {
    auto e = CheckMarkup(c.text);
    ASSERT_TRUE(e.has_value()) << c.message;
    EXPECT_EQ(e->position, c.position) << e->message;
    EXPECT_NE(e->message.find(c.message), std::string::npos) << e->message;
  }
}

TEST(Languages, NamesNumbersAndFileNames) {
  EXPECT_EQ(ParseLanguage("en"), 0x0409);
  EXPECT_EQ(ParseLanguage("RU"), 0x0419);
  EXPECT_EQ(ParseLanguage("deu"), 0x0407);
  EXPECT_EQ(ParseLanguage("0x0C0A"), 0x0C0A);
  EXPECT_EQ(ParseLanguage("1049"), 1049);
  EXPECT_THROW(ParseLanguage("0x10000"), Exception);
  EXPECT_THROW(ParseLanguage("0"), Exception);
  EXPECT_THROW(ParseLanguage("12abc"), Exception);
  EXPECT_THROW(ParseLanguage(""), Exception);
  auto fd = LanguagesFromName("freedict-deu-eng");
  ASSERT_TRUE(fd.has_value());
  EXPECT_EQ(fd->first, 0x0407);
  EXPECT_EQ(fd->second, 0x0409);
  EXPECT_EQ(LanguagesFromName("en-ru")->second, 0x0419);
  EXPECT_FALSE(LanguagesFromName("words").has_value());
  EXPECT_FALSE(LanguagesFromName("my-words").has_value());
  // Double-byte code pages are refused by name, not mangled.
  EXPECT_NO_THROW(CheckDictionaryLanguage(0x0419));
  try {
    CheckDictionaryLanguage(0x0411);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("not supported"), std::string::npos);
  }
}

}  // namespace
}  // namespace vandrel::tools
