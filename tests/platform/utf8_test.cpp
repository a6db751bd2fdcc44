// The one UTF-8 codec: strict and lenient decoding of ill-formed input, the
// offsets it reports, lone surrogates, every code point both ways, and the
// code-page conversion of 65001 agreeing with it.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/exceptions.h"
#include "platform/nls.h"

namespace vandrel {
namespace {

struct Bad {
  const char* bytes;
  std::size_t at;  // where the strict decoder stops
  const char16_t* lenient;
};

TEST(Utf8, IllFormedInputStrictAndLenient) {
  const Bad cases[] = {
      {"a\xC0\xAF", 1, u"a\uFFFD\uFFFD"},                    // overlong lead
      {"ab\xE0\x80\xAF", 2, u"ab\uFFFD\uFFFD\uFFFD"},        // overlong three bytes
      {"\xED\xA0\x80z", 0, u"\uFFFD\uFFFD\uFFFDz"},          // a surrogate code point
      {"\xF4\x90\x80\x80", 0, u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"x\xE2\x82", 1, u"x\uFFFD"},                          // cut off
      {"\xE2(\xA1", 0, u"\uFFFD(\uFFFD"},                    // bad continuation
      {"\xFF", 0, u"\uFFFD"},
  };
  for (const Bad& c : cases) {
    std::u16string out;
    std::size_t at = 99;
    EXPECT_FALSE(Utf8ToWide(c.bytes, out, &at)) << c.bytes;
    EXPECT_EQ(at, c.at) << c.bytes;
    EXPECT_EQ(Utf8ToWideLenient(c.bytes), c.lenient) << c.bytes;
    // The platform conversion is the same codec.
    char16_t buf[16];
    const int n = win::MultiByteToWideChar(win::CP_UTF8, 0, c.bytes,
                                           static_cast<int>(std::strlen(c.bytes)), buf, 16);
    EXPECT_EQ(std::u16string(buf, static_cast<std::size_t>(n)), c.lenient) << c.bytes;
    EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, win::MB_ERR_INVALID_CHARS, c.bytes,
                                       static_cast<int>(std::strlen(c.bytes)), buf, 16),
              0);
  }
  try {
    Utf8ToWideOrThrow("ok\x80");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "invalid UTF-8 at byte 2");
  }
}

TEST(Utf8, EveryCodePointBothWaysAndLoneSurrogates) {
  std::u16string all;
  std::string expected;
  for (char32_t c = 1; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    AppendUtf8(expected, c);
    if (c >= 0x10000) {
      all += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      all += static_cast<char16_t>(c);
    }
  }
  const std::string bytes = WideToUtf8(all);
  EXPECT_EQ(bytes, expected);
  std::u16string back;
  ASSERT_TRUE(Utf8ToWide(bytes, back));
  EXPECT_EQ(back, all);
  EXPECT_EQ(WideToUtf8(u"\u00E9\u0434\U0001F600"), "\xC3\xA9\xD0\xB4\xF0\x9F\x98\x80");
  // A lone surrogate becomes U+FFFD, and the strict form refuses it.
  EXPECT_EQ(WideToUtf8(std::u16string(u"a") + char16_t(0xDC00) + u"b"),
            "a\xEF\xBF\xBD"
            "b");
  std::size_t at = 0;
  const std::u16string lone = std::u16string(u"ab") + char16_t(0xD800);
  EXPECT_FALSE(EncodeUtf8(
      lone.data(), lone.size(), true, [](char) {}, &at));
  EXPECT_EQ(at, 2u);
  std::string s;
  AppendUtf8(s, 0xD800);
  AppendUtf8(s, 0x110000);
  EXPECT_EQ(s, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vandrel
