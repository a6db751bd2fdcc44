// National-language support: the code pages against the C library's own
// conversion, the Win32 conversion rules, the locale table, the locale
// comparison and case mapping.
#include "platform/nls.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/collation_weights.h"
#include "platform/error.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

constexpr UINT kSingleBytePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
constexpr UINT kDoubleBytePages[] = {932, 936, 949, 950};

// The C library's converter, as an independent reference.
class Reference {
 public:
  Reference(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Reference() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // The output for the whole input, or nothing when it is refused.
  std::optional<std::string> Convert(const std::string& in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in.data());
    std::size_t il = in.size();
    char out[64];
    char* op = out;
    std::size_t ol = sizeof out;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) {
      return std::nullopt;
    }
    if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    return std::string(out, sizeof out - ol);
  }

 private:
  iconv_t cd_;
};

std::string Utf16(char16_t ch) {
  return std::string{static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
}

std::u16string ToWide(UINT cp, const std::string& s, DWORD flags = 0) {
  std::u16string w(s.size() + 4, u'\0');
  const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), w.data(),
                                    static_cast<int>(w.size()));
  w.resize(static_cast<std::size_t>(n));
  return w;
}

std::string ToAnsi(UINT cp, const std::u16string& w, BOOL* used = nullptr,
                   const char* def = nullptr) {
  std::string s(w.size() * 4 + 4, '\0');
  const int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(),
                                    static_cast<int>(s.size()), def, used);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

// Every byte of every single-byte page converts both ways as the C library
// converts it. A byte the library leaves undefined is refused with
// MB_ERR_INVALID_CHARS, and otherwise stands for a character the library
// cannot encode into that page (so it belongs to no real character), which
// converts back to the same byte.
TEST(NlsCodePages, SingleBytePagesMatchTheCLibraryByteForByte) {
  for (UINT cp : kSingleBytePages) {
    SCOPED_TRACE(cp);
    const std::string name = "CP" + std::to_string(cp);
    Reference decode("UTF-16LE", name);
    Reference encode(name, "UTF-16LE");
    ASSERT_TRUE(decode.ok() && encode.ok());
    int undefined = 0;
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(b);
      const std::string byte(1, static_cast<char>(b));
      const auto expected = decode.Convert(byte);
      char16_t strict = 0;
      const int strict_n =
          MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, byte.data(), 1, &strict, 1);
      const std::u16string lenient = ToWide(cp, byte);
      ASSERT_EQ(lenient.size(), 1u);
      BOOL used = TRUE;
      EXPECT_EQ(ToAnsi(cp, lenient, &used), byte);
      EXPECT_FALSE(used);
      if (expected) {
        ASSERT_EQ(expected->size(), 2u);
        const char16_t ch = static_cast<char16_t>(static_cast<unsigned char>((*expected)[0]) |
                                                  static_cast<unsigned char>((*expected)[1]) << 8);
        EXPECT_EQ(strict_n, 1);
        EXPECT_EQ(strict, ch);
        EXPECT_EQ(lenient[0], ch);
        EXPECT_EQ(encode.Convert(Utf16(ch)), byte);
      } else {
        ++undefined;
        EXPECT_EQ(strict_n, 0);
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
        const char16_t stand_in =
            b < 0xA0 ? static_cast<char16_t>(b) : static_cast<char16_t>(0xF700 + b);
        EXPECT_EQ(lenient[0], stand_in);
        EXPECT_FALSE(encode.Convert(Utf16(stand_in)).has_value());
      }
    }
    if (cp == 1256) {
      EXPECT_EQ(undefined, 0);
    }
    if (cp == 1252) {
      EXPECT_EQ(undefined, 5);
    }
  }
}

TEST(NlsCodePages, AnyByteStringSurvivesBothConversions) {
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b) all[static_cast<std::size_t>(b)] = static_cast<char>(b);
  for (UINT cp : kSingleBytePages) {
    const std::u16string w = ToWide(cp, all);
    ASSERT_EQ(w.size(), 256u) << cp;
    BOOL used = TRUE;
    EXPECT_EQ(ToAnsi(cp, w, &used), all) << cp;
    EXPECT_FALSE(used);
  }
}

TEST(NlsCodePages, KnownCharactersOfEachPage) {
  EXPECT_EQ(ToWide(1251, "\xC6"), u"\u0416");
  EXPECT_EQ(ToWide(1252, "\x80\xE9\x9F"), u"\u20AC\u00E9\u0178");
  EXPECT_EQ(ToWide(1253, "\xD9"), u"\u03A9");
  EXPECT_EQ(ToWide(1255, "\xE0"), u"\u05D0");
  EXPECT_EQ(ToWide(874, "\xA1"), u"\u0E01");
  EXPECT_EQ(ToAnsi(1250, u"\u0159"), "\xF8");
  EXPECT_EQ(ToAnsi(1257, u"\u0101"), "\xE2");
  EXPECT_EQ(ToAnsi(1254, u"\u011F"), "\xF0");
}

TEST(NlsCodePages, CharactersWithoutBytesBecomeTheDefaultCharacter) {
  BOOL used = FALSE;
  // No best fit: a letter with a diacritic does not fall back to the bare letter.
  EXPECT_EQ(ToAnsi(1252, u"a\u0101b", &used), "a?b");
  EXPECT_TRUE(used);
  EXPECT_EQ(ToAnsi(1251, u"\u00E9x", &used, "#"), "#x");
  EXPECT_TRUE(used);
  // Each surrogate unit counts as one character.
  EXPECT_EQ(ToAnsi(1252, u"\U0001F600", &used), "??");
  EXPECT_EQ(ToAnsi(932, u"\U0001F600", &used), "??");
  EXPECT_EQ(ToAnsi(1252, u"plain", &used), "plain");
  EXPECT_FALSE(used);
}

// The double-byte pages, read through the C library: every character the
// library decodes from a pair decodes the same here, and converts back to
// bytes that decode to it again.
TEST(NlsCodePages, DoubleBytePagesAgreeWithTheCLibrary) {
  for (UINT cp : kDoubleBytePages) {
    SCOPED_TRACE(cp);
    ASSERT_TRUE(IsValidCodePage(cp));
    EXPECT_TRUE(IsDoubleByteCodePage(cp));
    Reference decode("UTF-16LE", "CP" + std::to_string(cp));
    ASSERT_TRUE(decode.ok());
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; trail += 3) {
        const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
        const auto expected = decode.Convert(pair);
        if (!expected || expected->size() != 2) continue;
        const char16_t ch = static_cast<char16_t>(static_cast<unsigned char>((*expected)[0]) |
                                                  static_cast<unsigned char>((*expected)[1]) << 8);
        if (ch >= 0xD800 && ch <= 0xDFFF) continue;
        ASSERT_EQ(ToWide(cp, pair, MB_ERR_INVALID_CHARS), std::u16string(1, ch))
            << lead << " " << trail;
        BOOL used = TRUE;
        const std::string back = ToAnsi(cp, std::u16string(1, ch), &used);
        EXPECT_FALSE(used);
        EXPECT_EQ(ToWide(cp, back), std::u16string(1, ch));
        ++checked;
      }
    }
    EXPECT_GT(checked, 3000);
  }
}

TEST(NlsCodePages, DoubleByteTextConvertsBothWays) {
  // "Nihon" in Japanese, Chinese (simplified and traditional) and Korean "hangug".
  EXPECT_EQ(ToWide(932,
                   "\x93\xFA\x96\x7B"
                   "a"),
            u"\u65E5\u672Ca");
  EXPECT_EQ(ToAnsi(932, u"\u65E5\u672Ca"),
            "\x93\xFA\x96\x7B"
            "a");
  EXPECT_EQ(ToWide(936, "\xC8\xD5\xB1\xBE"), u"\u65E5\u672C");
  EXPECT_EQ(ToWide(950, "\xA4\xE9\xA5\xBB"), u"\u65E5\u672C");
  EXPECT_EQ(ToWide(949, "\xC7\xD1\xB1\xB9"), u"\uD55C\uAD6D");
  // Half-width katakana are single bytes in 932.
  EXPECT_EQ(ToWide(932, "\xB1"), u"\uFF71");
  EXPECT_EQ(ToAnsi(936, u"\u0416\u00E9"), ToAnsi(936, u"\u0416") + ToAnsi(936, u"\u00E9"));
}

TEST(NlsCodePages, BrokenDoubleByteInputIsReplacedOrRefused) {
  // A lead byte at the end, before a byte that cannot follow it, and before
  // a byte that could but makes no character.
  EXPECT_EQ(ToWide(932, "a\x93"), u"a\uFFFD");
  EXPECT_EQ(ToWide(932,
                   "\x93"
                   "1"),
            u"\uFFFD"
            "1");
  EXPECT_EQ(ToWide(936,
                   "\x81\x7F"
                   "z"),
            u"\uFFFDz");
  char16_t out[8];
  EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x93", 2, out, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // Converting any bytes never writes past the given room.
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise.push_back(static_cast<char>((i * 7919 + 13) % 256));
  for (UINT cp : kDoubleBytePages) {
    std::u16string w(noise.size(), u'\0');
    const int n = MultiByteToWideChar(cp, 0, noise.data(), static_cast<int>(noise.size()), w.data(),
                                      static_cast<int>(w.size()));
    EXPECT_GT(n, 0);
    EXPECT_LE(n, static_cast<int>(noise.size()));
  }
}

TEST(NlsConvert, BufferLengthsAndArgumentsFollowTheWin32Rules) {
  char16_t w[8];
  // -1 converts the terminating zero too; a zero-sized target asks for the size.
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, w, 8), 4);
  EXPECT_EQ(w[3], u'\0');
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, w, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 0, w, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, w, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(1252, 0x100, "abc", 3, w, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);

  char a[8];
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"xyz", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"xyz", 3, a, 1, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, u"x", 1, a, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  BOOL used;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"x", 1, a, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  EXPECT_TRUE(IsValidCodePage(CP_UTF8));
  EXPECT_FALSE(IsValidCodePage(437));
  EXPECT_EQ(ToWide(CP_ACP, "\xE9"), ToWide(GetACP(), "\xE9"));
}

TEST(NlsConvert, Utf8) {
  const std::u16string text = u"a\u00E9\u20AC\U0001F600";
  EXPECT_EQ(ToAnsi(CP_UTF8, text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(ToWide(CP_UTF8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), text);
  // Ill-formed input: overlong form, lone continuation, cut sequence, encoded surrogate.
  EXPECT_EQ(ToWide(CP_UTF8, "\xC0\xAFx\x80y\xE2\x82"), u"\uFFFD\uFFFDx\uFFFDy\uFFFD");
  EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  char16_t w[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\x80", 1, w, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(ToAnsi(CP_UTF8, std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  char a[8];
  const char16_t lone = 0xDC00;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, &lone, 1, a, 8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

std::string LocaleInfo(LCID locale, LCTYPE type) {
  char buf[128];
  const int n = GetLocaleInfoA(locale, type, buf, sizeof buf);
  return n == 0 ? std::string("<error ") + std::to_string(GetLastError()) + ">"
                : std::string(buf, static_cast<std::size_t>(n - 1));
}

// Every language the dictionaries' charset table and the table engine's
// language list name, with its ANSI code page.
TEST(NlsLocales, AnsiCodePageOfEveryLanguage) {
  struct Case {
    LANGID id;
    const char* code_page;
  };
  const Case cases[] = {
      // One of each primary language of the dictionaries' charset table.
      {0x0401, "1256"},
      {0x0402, "1251"},
      {0x0403, "1252"},
      {0x0404, "950"},
      {0x0804, "936"},
      {0x0405, "1250"},
      {0x0406, "1252"},
      {0x0407, "1252"},
      {0x0408, "1253"},
      {0x0409, "1252"},
      {0x040A, "1252"},
      {0x040B, "1252"},
      {0x040C, "1252"},
      {0x040D, "1255"},
      {0x040E, "1250"},
      {0x040F, "1252"},
      {0x0410, "1252"},
      {0x0411, "932"},
      {0x0412, "949"},
      {0x0413, "1252"},
      {0x0414, "1252"},
      {0x0415, "1250"},
      {0x0416, "1252"},
      {0x0418, "1250"},
      {0x0419, "1251"},
      {0x041A, "1250"},
      {0x0C1A, "1251"},
      {0x081A, "1250"},
      {0x041B, "1250"},
      {0x041C, "1250"},
      {0x041D, "1252"},
      {0x041E, "874"},
      {0x041F, "1254"},
      {0x0421, "1252"},
      {0x0422, "1251"},
      {0x0423, "1251"},
      {0x0424, "1250"},
      {0x0425, "1257"},
      {0x0426, "1257"},
      {0x0427, "1257"},
      {0x0429, "1256"},
      {0x042D, "1252"},
      {0x042F, "1251"},
      {0x0436, "1252"},
      {0x0438, "1252"},
      // The rest of the engine's language list.
      {0x0801, "1256"},
      {0x0C01, "1256"},
      {0x1001, "1256"},
      {0x1401, "1256"},
      {0x1801, "1256"},
      {0x1C01, "1256"},
      {0x2001, "1256"},
      {0x2401, "1256"},
      {0x2801, "1256"},
      {0x2C01, "1256"},
      {0x3001, "1256"},
      {0x3401, "1256"},
      {0x3801, "1256"},
      {0x3C01, "1256"},
      {0x4001, "1256"},
      {0x0813, "1252"},
      {0x0809, "1252"},
      {0x0C09, "1252"},
      {0x1009, "1252"},
      {0x1409, "1252"},
      {0x1809, "1252"},
      {0x1C09, "1252"},
      {0x2009, "1252"},
      {0x2409, "1252"},
      {0x2809, "1252"},
      {0x2C09, "1252"},
      {0x080C, "1252"},
      {0x0C0C, "1252"},
      {0x100C, "1252"},
      {0x140C, "1252"},
      {0x0807, "1252"},
      {0x0C07, "1252"},
      {0x1007, "1252"},
      {0x1407, "1252"},
      {0x0810, "1252"},
      {0x0814, "1252"},
      {0x0816, "1252"},
      {0x080A, "1252"},
      {0x0C0A, "1252"},
      {0x100A, "1252"},
      {0x140A, "1252"},
      {0x180A, "1252"},
      {0x1C0A, "1252"},
      {0x200A, "1252"},
      {0x240A, "1252"},
      {0x280A, "1252"},
      {0x2C0A, "1252"},
      {0x300A, "1252"},
      {0x340A, "1252"},
      {0x380A, "1252"},
      {0x3C0A, "1252"},
      {0x400A, "1252"},
      {0x440A, "1252"},
      {0x480A, "1252"},
      {0x4C0A, "1252"},
      {0x500A, "1252"},
      {0x081D, "1252"},
      {0x042A, "1258"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_TRUE(IsValidLocale(c.id, LCID_SUPPORTED));
    EXPECT_EQ(LocaleInfo(c.id, LOCALE_IDEFAULTANSICODEPAGE), c.code_page);
    // Each language's code page is one the platform converts.
    EXPECT_TRUE(IsValidCodePage(static_cast<UINT>(std::stoi(c.code_page))));
    char name[100];
    EXPECT_GT(VerLanguageNameA(c.id, name, sizeof name), 0u);
    EXPECT_STRNE(name, "Language Neutral");
    EXPECT_EQ(LocaleInfo(c.id, LOCALE_SLANGUAGE), name);
  }
}

TEST(NlsLocales, NamesAndOtherInformation) {
  EXPECT_EQ(LocaleInfo(0x0409, LOCALE_SLANGUAGE), "English (United States)");
  EXPECT_EQ(LocaleInfo(0x0409, LOCALE_SENGLANGUAGE), "English");
  EXPECT_EQ(LocaleInfo(0x0C1A, LOCALE_SLANGUAGE), "Serbian (Cyrillic)");
  EXPECT_EQ(LocaleInfo(0x0407, LOCALE_SENGCOUNTRY), "Germany");
  EXPECT_EQ(LocaleInfo(0x0419, LOCALE_ILANGUAGE), "0419");
  EXPECT_EQ(LocaleInfo(0x0416, LOCALE_SISO639LANGNAME), "pt");
  EXPECT_EQ(LocaleInfo(0x0416, LOCALE_SISO3166CTRYNAME), "BR");
  EXPECT_EQ(LocaleInfo(0x0419, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_NOUSEROVERRIDE), "1251");

  char name[8];
  EXPECT_EQ(VerLanguageNameA(0x0409, name, sizeof name), 7u);  // cut to the buffer
  EXPECT_STREQ(name, "English");
  EXPECT_EQ(VerLanguageNameA(0x0409, nullptr, 0), 23u);
  char unknown[100];
  VerLanguageNameA(0x0417, unknown, sizeof unknown);
  EXPECT_STREQ(unknown, "Language Neutral");
}

TEST(NlsLocales, FailuresOfLocaleInformation) {
  char buf[4];
  EXPECT_EQ(GetLocaleInfoA(0x0417, LOCALE_IDEFAULTANSICODEPAGE, buf, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLocaleInfoA(0x0409, 0x7777, buf, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_IDEFAULTANSICODEPAGE, buf, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_IDEFAULTANSICODEPAGE, nullptr, 0), 5);
  // Sort identifiers: 0 everywhere, 1 only where an alternative sort exists.
  EXPECT_TRUE(IsValidLocale(MAKELCID(0x0407, 1), LCID_INSTALLED));
  EXPECT_TRUE(IsValidLocale(MAKELCID(0x040E, 1), LCID_INSTALLED));
  EXPECT_FALSE(IsValidLocale(MAKELCID(0x0409, 1), LCID_INSTALLED));
  EXPECT_EQ(GetLocaleInfoA(MAKELCID(0x0409, 1), LOCALE_IDEFAULTANSICODEPAGE, buf, 4), 0);
  EXPECT_FALSE(IsValidLocale(0x0417, LCID_INSTALLED));
  EXPECT_FALSE(IsValidLocale(0x0409, 7));
  // The neutral identifiers mean the user's default language.
  EXPECT_EQ(LocaleInfo(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE),
            LocaleInfo(GetUserDefaultLangID(), LOCALE_ILANGUAGE));
  EXPECT_EQ(LocaleInfo(0, LOCALE_IDEFAULTANSICODEPAGE), std::to_string(GetACP()));
}

TEST(NlsLocales, DefaultLanguageFromThePosixLocaleName) {
  EXPECT_EQ(LanguageFromPosixLocale(""), 0x0409);
  EXPECT_EQ(LanguageFromPosixLocale("C"), 0x0409);
  EXPECT_EQ(LanguageFromPosixLocale("C.UTF-8"), 0x0409);
  EXPECT_EQ(LanguageFromPosixLocale("POSIX"), 0x0409);
  EXPECT_EQ(LanguageFromPosixLocale("tlh_XX.UTF-8"), 0x0409);
  EXPECT_EQ(LanguageFromPosixLocale("de_DE.UTF-8"), 0x0407);
  EXPECT_EQ(LanguageFromPosixLocale("de_AT@euro"), 0x0C07);
  EXPECT_EQ(LanguageFromPosixLocale("de_XX"), 0x0407);
  EXPECT_EQ(LanguageFromPosixLocale("en_GB.ISO-8859-1"), 0x0809);
  EXPECT_EQ(LanguageFromPosixLocale("ru_RU.KOI8-R"), 0x0419);
  EXPECT_EQ(LanguageFromPosixLocale("pt"), 0x0416);
  EXPECT_EQ(LanguageFromPosixLocale("pt_PT"), 0x0816);
  EXPECT_EQ(LanguageFromPosixLocale("es_ES.UTF-8"), 0x0C0A);
  EXPECT_EQ(LanguageFromPosixLocale("zh_TW.Big5"), 0x0404);
  EXPECT_EQ(LanguageFromPosixLocale("zh_CN.GB2312"), 0x0804);
  EXPECT_EQ(LanguageFromPosixLocale("sr_RS"), 0x0C1A);
  EXPECT_EQ(LanguageFromPosixLocale("sr_RS@latin"), 0x081A);
  EXPECT_EQ(LanguageFromPosixLocale("nn_NO.UTF-8"), 0x0814);
  EXPECT_EQ(LanguageFromPosixLocale("JA_jp"), 0x0411);
}

// The default language is read from the environment when a process first
// asks, so each case runs in a fresh process started with that environment.
TEST(NlsLocales, DefaultLanguageComesFromTheEnvironment) {
  struct Case {
    const char* lc_all;
    const char* lang;
    LANGID expected;
    UINT acp;
  };
  const Case cases[] = {
      {"ru_RU.UTF-8", "de_DE.UTF-8", 0x0419, 1251},  // LC_ALL wins over LANG
      {"", "ja_JP.UTF-8", 0x0411, 932},
      {"", "el_GR", 0x0408, 1253},
      {"C", "de_DE.UTF-8", 0x0409, 1252},
      {"", "", 0x0409, 1252},
  };
  // Each case sets them; the test's end restores them.
  test::ScopedEnv lc_all("LC_ALL", nullptr), lc_ctype("LC_CTYPE", nullptr), lang("LANG", nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lc_all) + " / " + c.lang);
    setenv("LC_ALL", c.lc_all, 1);
    setenv("LANG", c.lang, 1);
    const DWORD pid = StartChildProcess(
        {test::BinDir() + "/nlslocalepeer", std::to_string(c.expected), std::to_string(c.acp)}, "");
    ASSERT_NE(pid, 0u);
    int code = -1;
    ASSERT_TRUE(WaitChildProcess(pid, 30000, &code));
    EXPECT_EQ(code, 0);
  }
}

int Compare(LCID locale, DWORD flags, const char* a, const char* b) {
  return CompareStringA(locale, flags, a, -1, b, -1);
}

TEST(NlsCompare, LevelsAndFlags) {
  constexpr LCID en = 0x0409;
  // Primary weight first: a letter beats case and diacritics anywhere later.
  EXPECT_EQ(Compare(en, 0, "abc", "abd"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(en, 0, "Abc", "abd"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(en, 0, "\xE9z", "fa"), CSTR_LESS_THAN);  // e-acute sorts with e
  EXPECT_EQ(Compare(en, 0, "ab", "abc"), CSTR_LESS_THAN);
  // Then diacritics, then case (small letters weigh more).
  EXPECT_EQ(Compare(en, 0, "e", "\xE9"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(en, 0, "E\xE9",
                    "\xE9"
                    "e"),
            CSTR_LESS_THAN);
  EXPECT_EQ(Compare(en, 0, "abc", "ABC"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(en, NORM_IGNORENONSPACE, "e", "\xE9"), CSTR_EQUAL);
  EXPECT_EQ(Compare(en, NORM_IGNORENONSPACE, "\xE9", "E"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(en, NORM_IGNORECASE, "abc", "ABC"), CSTR_EQUAL);
  EXPECT_EQ(Compare(en, NORM_IGNORECASE, "e", "\xC9"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(en, NORM_IGNORECASE | NORM_IGNORENONSPACE, "e", "\xC9"), CSTR_EQUAL);
  EXPECT_EQ(Compare(en, NORM_IGNORESYMBOLS, "co-op", "coop"), CSTR_EQUAL);
  EXPECT_EQ(Compare(en, 0, "co-op", "coop"), CSTR_LESS_THAN);
  // Explicit lengths may cut a string and include zeros.
  EXPECT_EQ(CompareStringA(en, 0, "abc", 2, "ab", -1), CSTR_EQUAL);
  // The text is read in the locale's code page: C6 is Cyrillic Zhe in
  // 1251 and sorts after Cyrillic A (C0), but is AE in 1252, after A.
  EXPECT_EQ(Compare(0x0419, 0, "\xC6", "\xC0"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(0x0419, 0, "\xC6", "z"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(en, 0, "\xC6", "z"), CSTR_LESS_THAN);

  EXPECT_EQ(CompareStringA(0x0417, 0, "a", -1, "b", -1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CompareStringA(en, 0x8, "a", -1, "b", -1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(CompareStringA(en, 0, nullptr, -1, "b", -1), 0);
}

// Ordering the 256 single characters of a page (as the table engine's
// collation orders do) gives a total order consistent with the weights.
TEST(NlsCompare, SingleCharactersSortByTheirWeights) {
  for (UINT cp : kSingleBytePages) {
    LCID locale = 0;
    for (LANGID id :
         {0x041E, 0x0405, 0x0419, 0x0409, 0x0408, 0x041F, 0x040D, 0x0401, 0x0425, 0x042A}) {
      char buf[8];
      GetLocaleInfoA(id, LOCALE_IDEFAULTANSICODEPAGE, buf, sizeof buf);
      if (std::to_string(cp) == buf) locale = id;
    }
    ASSERT_NE(locale, 0u) << cp;
    for (int x = 0; x < 256; ++x) {
      for (int y = 0; y < 256; y += 5) {
        const char a = static_cast<char>(x), b = static_cast<char>(y);
        const int r = CompareStringA(locale, 0, &a, 1, &b, 1);
        const int back = CompareStringA(locale, 0, &b, 1, &a, 1);
        ASSERT_EQ(r + back, 4) << cp << " " << x << " " << y;  // antisymmetric
        char16_t wa, wb;
        MultiByteToWideChar(cp, 0, &a, 1, &wa, 1);
        MultiByteToWideChar(cp, 0, &b, 1, &wb, 1);
        const std::uint32_t ka = collation::Weight(wa), kb = collation::Weight(wb);
        if ((ka >> 16) != (kb >> 16)) {
          ASSERT_EQ(r, (ka >> 16) < (kb >> 16) ? 1 : 3);
        }
      }
    }
  }
}

std::string Map(LCID locale, DWORD flags, const std::string& s) {
  std::string out(s.size() + 8, '\0');
  const int n = LCMapStringA(locale, flags, s.data(), static_cast<int>(s.size()), out.data(),
                             static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

TEST(NlsCaseMapping, UpperAndLowerCaseInTheLocalesCodePage) {
  EXPECT_EQ(Map(0x0409, LCMAP_UPPERCASE,
                "stra\xDF"
                "e \xE9\xFF 1!"),
            "STRA\xDF"
            "E \xC9\x9F 1!");
  EXPECT_EQ(Map(0x0409, LCMAP_LOWERCASE, "ABC \xC9\x9F\x8A"), "abc \xE9\xFF\x9A");
  // Micro sign: its capital (Greek Mu) has no byte in 1252, so it stays.
  EXPECT_EQ(Map(0x0409, LCMAP_UPPERCASE, "\xB5"), "\xB5");
  EXPECT_EQ(Map(0x0419, LCMAP_UPPERCASE, "\xE0\xE6\xB8"), "\xC0\xC6\xA8");
  EXPECT_EQ(Map(0x0408, LCMAP_UPPERCASE, "\xE1\xF9"), "\xC1\xD9");
  EXPECT_EQ(Map(0x0411, LCMAP_UPPERCASE, "a\x82\x81"), "A\x82\x60");  // full-width a
  EXPECT_EQ(Map(0x0409, LCMAP_UPPERCASE, "\x81\x8D"), "\x81\x8D");    // stand-ins unchanged

  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_UPPERCASE, "ab", -1, nullptr, 0), 3);
  char inplace[] = "MiXeD";
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_LOWERCASE, inplace, -1, inplace, sizeof inplace), 6);
  EXPECT_STREQ(inplace, "mixed");
  char small[2];
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_UPPERCASE, "abc", 3, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_UPPERCASE | LCMAP_LOWERCASE, "a", 1, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

}  // namespace
}  // namespace vandrel::win
