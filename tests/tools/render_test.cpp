// Rendering marked-up translations for a terminal or a pipe.
#include "tools/common/render.h"

#include <gtest/gtest.h>

namespace vandrel::tools {
namespace {

std::string Plain(WideView t, std::string indent = "") {
  RenderOptions o;
  o.indent = std::move(indent);
  return RenderTranslation(t, o);
}

std::string Ansi(WideView t) {
  RenderOptions o;
  o.ansi = true;
  return RenderTranslation(t, o);
}

TEST(Render, EachMarkInAPipe) {
  EXPECT_EQ(Plain(u"\x01"
                  u"1\x01 \x02"
                  u"a\x02\x03"
                  u"b\x03"),
            "[1] [a][b]");
  EXPECT_EQ(Plain(u"\x04\u00b0\x04"), "\xC2\xB0");
  EXPECT_EQ(Plain(u"\x05one\x05, \x06two\x06 \x07n.\x07 \x08(note)\x08"), "one, two n. (note)");
  EXPECT_EQ(Plain(u"\x09"
                  u"an example\x09"),
            "an example");
  EXPECT_EQ(Plain(u"\x0C\u00e9t\u00e9 \x0C"), "\xC3\xA9t\xC3\xA9 ");
  EXPECT_EQ(Plain(u"one\x0Dtwo"), "one\ntwo");
}

TEST(Render, EachStyleOnATerminal) {
  EXPECT_EQ(Ansi(u"\x05"
                 u"a\x05"),
            "\x1b[1ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x06"
                 u"a\x06"),
            "\x1b[32ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x07"
                 u"a\x07"),
            "\x1b[36ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x08"
                 u"a\x08"),
            "\x1b[2ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x09"
                 u"a\x09"),
            "\x1b[3ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x04"
                 u"a\x04"),
            "\x1b[1ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x0C"
                 u"a\x0C"),
            "\x1b[4ma\x1b[0m");
  EXPECT_EQ(Ansi(u"\x01"
                 u"a\x01"),
            "\x1b[2m[\x1b[0m"
            "a"
            "\x1b[2m]\x1b[0m");
  EXPECT_EQ(Ansi(u"text"), "text");
}

TEST(Render, BlocksTakeTheirOwnIndentedLines) {
  // A block after text starts a new line; text after it starts another.
  EXPECT_EQ(Plain(u"head\x0B\x09"
                  u"ex\x09 \x2014 \x06tr\x06\x0Bnext"),
            "head\n  ex \xE2\x80\x94 tr\nnext");
  // Line breaks inside a block keep its indentation; empty lines carry none.
  EXPECT_EQ(Plain(u"\x0B"
                  u"a\x0D\x0D"
                  u"b\x0B"),
            "  a\n\n  b");
  // Two blocks in a row are two paragraphs, without an empty line between.
  EXPECT_EQ(Plain(u"\x0B"
                  u"a\x0B\x0B"
                  u"b\x0B"),
            "  a\n  b");
  // The caller's indentation goes before every line after the first.
  EXPECT_EQ(Plain(u"x\x0Dy\x0B"
                  u"z\x0B",
                  "    "),
            "x\n    y\n      z");
}

TEST(Render, NothingReachesTheTerminalAsAControlCharacter) {
  // Escape sequences hidden in a dictionary, malformed marks and C1 controls
  // are shown escaped; open spans are rendered to the end.
  EXPECT_EQ(Plain(u"a\x1B[2Jb"), "a\\x1B[2Jb");
  EXPECT_EQ(Plain(u"\x0E\x0A\u009B"), "\\x0E\\x0A\\x9B");
  EXPECT_EQ(Plain(u"\x05open"), "open");
  EXPECT_EQ(Plain(u"\x0B\x01"
                  u"a"),
            "  \\x01a");
  EXPECT_EQ(Plain(u"\x01"), "");
  EXPECT_EQ(Plain(u"\x0C\x1B\x0C"), "\\x1B");
  EXPECT_EQ(Plain(u"\U0001F600 \xD800"), "\xF0\x9F\x98\x80 \xEF\xBF\xBD");
  EXPECT_EQ(RenderPlain(u"w\x05\x1B\u00e9"), "w\\x05\\x1B\xC3\xA9");
}

TEST(Render, RawShowsTheSourceEscapes) {
  EXPECT_EQ(RenderRaw(u"\x05"
                      u"a\x05\x0D\x0B\x09"
                      u"b\x09\x0B\\"),
            "\\5a\\5\\n\\b\\9b\\9\\b\\\\");
}

}  // namespace
}  // namespace vandrel::tools
