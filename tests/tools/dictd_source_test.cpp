// The dictd reader: base-64 numbers, index lines, definition text, the
// dictionary's own entries, damaged indexes, and .dict.dz through gzip.
#include "tools/common/dictd_source.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "platform/process.h"
#include "platform/utf8.h"
#include "tests/support/test_support.h"
#include "tools/common/prepare.h"

namespace vandrel::tools {
namespace {

std::string Number(std::uint64_t v) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % 64]);
    v /= 64;
  } while (v);
  return s;
}

TEST(DictdNumber, DigitsAndLimits) {
  std::uint64_t v = 99;
  EXPECT_TRUE(DecodeDictdNumber("A", v));
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(DecodeDictdNumber("/", v));
  EXPECT_EQ(v, 63u);
  EXPECT_TRUE(DecodeDictdNumber("BA", v));
  EXPECT_EQ(v, 64u);
  EXPECT_TRUE(DecodeDictdNumber("vYRe", v));  // 47*64^3 + 24*64^2 + 17*64 + 30
  EXPECT_EQ(v, 47u * 262144 + 24 * 4096 + 17 * 64 + 30);
  for (std::uint64_t x : {1ull, 62ull, 4095ull, 4096ull, 123456789ull, (1ull << 48) - 1}) {
    EXPECT_TRUE(DecodeDictdNumber(Number(x), v));
    EXPECT_EQ(v, x);
  }
  EXPECT_FALSE(DecodeDictdNumber("", v));
  EXPECT_FALSE(DecodeDictdNumber("A=", v));
  EXPECT_FALSE(DecodeDictdNumber("A B", v));
  EXPECT_TRUE(DecodeDictdNumber("BAAAAAAA", v));  // 64^7 = 2^42 fits
  EXPECT_EQ(v, 1ull << 42);
  EXPECT_FALSE(DecodeDictdNumber("BAAAAAAAA", v));  // 2^48 does not
}

TEST(DictdDefinition, TextBecomesOneTranslation) {
  EXPECT_EQ(DictdDefinitionToMarkup("house\n  das Haus\n\n"), u"house\x0D  das Haus");
  EXPECT_EQ(DictdDefinitionToMarkup("a\r\nb\rc"),
            u"a\x0D"
            u"b\x0D"
            u"c");
  EXPECT_EQ(DictdDefinitionToMarkup("\t tab\tand\x05"
                                    "marks\x1B \n"),
            u"tab and marks");
  EXPECT_EQ(DictdDefinitionToMarkup("Stra\xC3\x9F"
                                    "e"),
            u"Stra\u00dfe");
  EXPECT_EQ(DictdDefinitionToMarkup("Stra\xDF"
                                    "e"),
            u"Stra\u00dfe");  // Latin-1
  EXPECT_EQ(DictdDefinitionToMarkup(" \n "), u"");
}

TEST(DictdDefinition, LengthAndReusedBufferAgreeWithTheConversion) {
  const std::string cases[] = {"", " \n ", "house", "  house\n  das Haus\r\n\r\n",
                               "a\r\nb\rc\r\r\nd\n\r", "\r\n\x01x\x1F\t",
                               "Stra\xC3\x9F"
                               "e \xF0\x9F\x98\x80 ok\n",
                               "Stra\xDF"
                               "e\r\n\xA0",
                               "\xC3", std::string("nul\0byte\0", 10),
                               // Past the first 8 bytes, which are passed as a word.
                               "1234567\r\n89abcdef\r\nStra\xC3\x9F"
                               "e \xE2\x82\xAC\r\n",
                               "a longer ASCII line, then Latin-1: Stra\xDF"
                               "e\r\nand more\r",
                               "12345678\xF0\x9F\x98", "12345678123456781234567812345678\r\r\n"};
  WideString reused = u"left over from an earlier text";
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    const WideString converted = DictdDefinitionToMarkup(c);
    EXPECT_EQ(DictdMarkupLength(c), converted.size());
    DictdDefinitionToMarkup(c, reused);
    EXPECT_EQ(reused, converted);
  }
}

TEST(DictdParse, DefinitionsStayBytesUntilConvertedAndTheSourceKeepsThem) {
  std::string data = "Haus\nhouse\n";
  const std::size_t gehen_at = data.size();
  data += "gehen\r\n  to go \n";
  const std::string index = "haus\tA\t" + Number(gehen_at) + "\ngehen\t" + Number(gehen_at) + "\t" +
                            Number(data.size() - gehen_at) + "\n";
  Source lazy = ParseDictdSource(index, std::make_shared<const std::string>(data), "t.index");
  data.assign(data.size(), 'x');  // the source holds its own bytes
  ASSERT_EQ(lazy.entries.size(), 2u);
  ASSERT_NE(lazy.data, nullptr);
  WideString buffer;
  for (const SourceEntry& e : lazy.entries) {
    EXPECT_TRUE(e.trans.empty());
    EXPECT_FALSE(e.definition.empty());
    EXPECT_GE(e.definition.data(), lazy.data->data());
    EXPECT_LE(e.definition.data() + e.definition.size(), lazy.data->data() + lazy.data->size());
  }
  EXPECT_EQ(lazy.entries[0].definition, "Haus\nhouse\n");
  EXPECT_EQ(WideString(TranslationOf(lazy.entries[1], buffer)), u"gehen\x0D  to go");
}

TEST(DictdParse, IndexLinesLocateDefinitions) {
  std::string data = "00-database-short\n  Test Dict\nline two\n";
  std::size_t short_len = data.size();
  std::size_t info_at = data.size();
  data += "about the test\n";
  std::size_t haus_at = data.size();
  data += "Haus\nhouse\n";
  std::size_t gehen_at = data.size();
  data += "gehen\n  to go\n";
  std::string index;
  index += "00-database-short\tA\t" + Number(short_len) + "\n";
  index += "00databaseinfo\t" + Number(info_at) + "\t" + Number(haus_at - info_at) + "\n";
  index += " haus \t" + Number(haus_at) + "\t" + Number(gehen_at - haus_at) + "\textra column\n";
  index += "gehen\t" + Number(gehen_at) + "\t" + Number(data.size() - gehen_at) + "\r\n";
  index += "Geh\t" + Number(gehen_at) + "\t" + Number(data.size() - gehen_at) + "\n";
  Source s = ParseDictdSource(index, data, "t.index");
  ASSERT_EQ(s.entries.size(), 3u);
  EXPECT_EQ(s.entries[0].word, u"haus");
  EXPECT_EQ(s.entries[0].trans, u"Haus\x0Dhouse");
  EXPECT_EQ(s.entries[0].line, 3u);
  EXPECT_EQ(s.entries[1].word, u"gehen");
  EXPECT_EQ(s.entries[1].trans, u"gehen\x0D  to go");
  EXPECT_EQ(s.entries[2].trans, s.entries[1].trans);
  EXPECT_EQ(*s.params.name, u"Test Dict\x0Dline two");
  EXPECT_EQ(*s.params.description, u"about the test");
}

TEST(DictdParse, DamagedIndexLinesAreErrorsNotGuesses) {
  std::string data = "0123456789";
  std::string index =
      "ok\tA\tK\n"            // 0, 10: the whole data
      "short\tA\n"            // no length
      "badnum\tA!\tB\n"       // bad digit
      "past\tK\tB\n"          // offset 10, 1 byte: past the end
      "huge\t/////////\tB\n"  // does not fit 48 bits
      "wrap\tB\t//////\n";    // length past the end
  try {
    ParseDictdSource(index, data, "d.index");
    FAIL() << "no error";
  } catch (const ESourceFormat& e) {
    std::string m = e.what();
    EXPECT_NE(m.find("d.index:2: expected headword, offset and length"), std::string::npos) << m;
    EXPECT_NE(m.find("d.index:3: bad offset or length"), std::string::npos) << m;
    EXPECT_NE(m.find("d.index:4: definition at 10 (1 bytes) lies outside"), std::string::npos) << m;
    EXPECT_NE(m.find("d.index:5: bad offset or length"), std::string::npos) << m;
    EXPECT_NE(m.find("d.index:6: definition at 1"), std::string::npos) << m;
    EXPECT_NE(m.find("5 bad index lines"), std::string::npos) << m;
  }
  // An empty definition at the very end is in bounds.
  EXPECT_EQ(ParseDictdSource("end\tK\tA\n", data, "e.index").entries.size(), 1u);
}

// A large index is read in two parts on two threads: what a line gives
// must not depend on the part it falls in.
TEST(DictdParse, LargeIndexReadInPartsKeepsLinesOrderAndErrors) {
  const auto data = std::make_shared<const std::string>("0123456789");
  std::string index;
  constexpr std::uint32_t kLines = 60000;  // over 1 MiB of index
  std::vector<std::uint32_t> bad;
  for (std::uint32_t line = 1; line <= kLines; ++line) {
    if (line % 7919 == 0) {
      index += "broken line without fields\n";
      bad.push_back(line);
    } else if (line == 45001) {
      index += "00-database-short\tA\tE\n";  // the name, in the second half
    } else if (line % 1000 == 0) {
      index += "\r\n";  // blank: no entry, but a line number
    } else {
      index += "headword number " + std::to_string(line) + "\t" + Number(line % 10) + "\tB\n";
    }
  }
  index.pop_back();  // the last line without its end
  try {
    ParseDictdSource(index, data, "big.index");
    FAIL() << "no error";
  } catch (const ESourceFormat& e) {
    const std::string m = e.what();
    std::size_t after = 0;
    for (std::uint32_t line : bad) {
      const std::size_t at = m.find("big.index:" + std::to_string(line) + ": expected");
      ASSERT_NE(at, std::string::npos) << m;
      EXPECT_GE(at, after) << "in line order";
      after = at;
    }
    EXPECT_NE(m.find(std::to_string(bad.size()) + " bad index lines"), std::string::npos) << m;
  }
  // Without the broken lines: every entry, in order, with its line.
  std::string good;
  std::size_t from = 0;
  while (from < index.size()) {
    const std::size_t nl = std::min(index.find('\n', from), index.size());
    const std::string_view line(index.data() + from, nl - from);
    good += line.starts_with("broken") ? std::string_view() : line;
    good += '\n';
    from = nl + 1;
  }
  const Source src = ParseDictdSource(good, data, "big.index");
  ASSERT_EQ(src.entries.size(), kLines - bad.size() - kLines / 1000 - 1);
  std::uint32_t expected = 0;
  for (const SourceEntry& e : src.entries) {
    do ++expected;
    while (expected % 7919 == 0 || expected % 1000 == 0 || expected == 45001);
    ASSERT_EQ(e.line, expected);
    ASSERT_EQ(e.word, Utf8ToWideOrThrow("headword number " + std::to_string(expected)));
    ASSERT_EQ(e.definition, data->substr(expected % 10, 1));
  }
  ASSERT_TRUE(src.params.name);
  EXPECT_EQ(*src.params.name, u"0123");
}

TEST(DictdFiles, PlainAndGzippedDataWithLanguagesFromTheName) {
  test::ScratchDir dir;
  const std::string base = dir.path() + "/sample-deu-eng";
  std::string data = "Haus\nhouse\n";
  {
    std::ofstream(base + ".index") << "haus\tA\t" << Number(data.size()) << "\n";
    std::ofstream(base + ".dict") << data;
  }
  Source plain = ReadDictdSource(base + ".index");
  ASSERT_EQ(plain.entries.size(), 1u);
  WideString buffer;
  EXPECT_EQ(WideString(TranslationOf(plain.entries[0], buffer)), u"Haus\x0Dhouse");
  EXPECT_EQ(*plain.params.language, 0x0407);
  EXPECT_EQ(*plain.params.trans_language, 0x0409);
  EXPECT_EQ(*plain.params.short_name, u"sample-deu-eng");

  // Compress the data as dictd packages ship it; the reader must find the .dz.
  int code = -1;
  win::DWORD pid = win::StartChildProcess(
      {"/bin/sh", "-c", "exec gzip -9 -S .dz \"$1\"", "sh", base + ".dict"}, "");
  ASSERT_NE(pid, 0u);
  ASSERT_TRUE(win::WaitChildProcess(pid, 60000, &code));
  ASSERT_EQ(code, 0);
  FindDictdFiles(base + ".dict.dz");
  Source packed = ReadDictdSource(base + ".dict.dz");
  ASSERT_EQ(packed.entries.size(), 1u);
  EXPECT_EQ(packed.entries[0].definition, plain.entries[0].definition);

  // A damaged .dz is reported, not read as empty.
  { std::ofstream(base + ".dict.dz", std::ios::binary) << "\x1f\x8b not really gzip"; }
  EXPECT_THROW(ReadDictdSource(base + ".index"), Exception);
  EXPECT_THROW(ReadDictdSource(dir.path() + "/missing.index"), Exception);
}

}  // namespace
}  // namespace vandrel::tools
