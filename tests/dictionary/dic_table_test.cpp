// The dictionary reader against damaged files (one named header byte at a
// time, truncation, damage inside pages, random byte flips), the page sizes
// it accepts, and the cursor's edge cases: empty and one-word
// dictionaries, the ends of the record range, nearest and exact search.
#include "dictionary/dic_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "dictionary/body_codec.h"
#include "dictionary/page_man.h"
#include "dictionary/scramble.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

constexpr std::uint32_t P = 8192;

class DicTableTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }

  // Opens path and returns the error message, or "" when it opened.
  std::string OpenError(const std::string& path) {
    table_.Close();
    table_.FileName = path;
    try {
      table_.Open();
      return "";
    } catch (const Exception& e) {
      EXPECT_FALSE(table_.IsOpen()) << "a failed Open leaves the table closed";
      return e.what();
    }
  }

  std::string NotBase(const std::string& path) const { return "File " + path + " is not base"; }

  ScratchDir dir_;
  TDicTable table_;
};

TEST_F(DicTableTest, EachDamagedHeaderFieldGivesItsMessage) {
  const std::string good = Path("good.dic");
  Compile(good, LongEntries());
  const auto original = ReadBytes(good);
  ASSERT_EQ(Get32(original, dic::kLayerCountAt), 2u);
  const std::uint32_t size = static_cast<std::uint32_t>(original.size());
  const std::string old_format = "Dictionary %s has old format. Download it latest version.";
  const std::string unknown = "Dictionary %s has unknown version. Download latest program version.";

  struct TCase {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::string message;  // %s = the path, "" = opens
  };
  const std::string not_base = "File %s is not base";
  const std::vector<TCase> cases = {
      {"old signature", [](auto& b) { std::memcpy(b.data(), "VBAS", 4); }, old_format},
      {"other signature", [](auto& b) { b[0] = 'X'; }, not_base},
      {"version 0", [](auto& b) { Put32(b, dic::kVersionAt, 0); }, ""},
      {"version 2", [](auto& b) { Put32(b, dic::kVersionAt, 2); }, ""},
      {"version 4", [](auto& b) { Put32(b, dic::kVersionAt, 4); }, ""},
      {"version 6", [](auto& b) { Put32(b, dic::kVersionAt, 6); }, unknown},
      {"version FFFFFFFF", [](auto& b) { Put32(b, dic::kVersionAt, 0xFFFFFFFF); }, unknown},
      {"page size 65536", [](auto& b) { Put32(b, dic::kPageSizeAt, 65536); }, not_base},
      {"page size 0", [](auto& b) { Put32(b, dic::kPageSizeAt, 0); }, not_base},
      {"page size 1000", [](auto& b) { Put32(b, dic::kPageSizeAt, 1000); }, not_base},
      {"page size 2048", [](auto& b) { Put32(b, dic::kPageSizeAt, 2048); }, not_base},
      {"page size 16384", [](auto& b) { Put32(b, dic::kPageSizeAt, 16384); }, not_base},
      {"record count 0", [](auto& b) { Put32(b, dic::kRecordCountAt, 0); }, not_base},
      {"record count below leaf pages", [](auto& b) { Put32(b, dic::kRecordCountAt, 5); },
       not_base},
      {"record count beyond pages", [](auto& b) { Put32(b, dic::kRecordCountAt, 100000); },
       not_base},
      {"record count negative", [](auto& b) { Put32(b, dic::kRecordCountAt, 0x80000000); },
       not_base},
      {"layer count 11", [](auto& b) { Put32(b, dic::kLayerCountAt, 11); }, not_base},
      {"layer count 0", [](auto& b) { Put32(b, dic::kLayerCountAt, 0); }, not_base},
      {"layer count 3", [](auto& b) { Put32(b, dic::kLayerCountAt, 3); }, not_base},
      {"layer 0 misaligned", [](auto& b) { Put32(b, dic::kLayerOffsetsAt, 3 * P + 1); }, not_base},
      {"layer 0 past the file", [&](auto& b) { Put32(b, dic::kLayerOffsetsAt, size + P); },
       not_base},
      {"root over the header", [](auto& b) { Put32(b, dic::kLayerOffsetsAt + 4, 0); }, not_base},
      {"leaf offset past the file", [&](auto& b) { Put32(b, dic::kLeafOffsetAt, size); }, not_base},
      {"leaf offset before layer 0", [](auto& b) { Put32(b, dic::kLeafOffsetAt, P); }, not_base},
      {"body start past the file", [](auto& b) { Put32(b, dic::kBodyStartAt, 0xFFFFE000); },
       not_base},
      {"body length past the file", [](auto& b) { Put32(b, dic::kBodyLengthAt, 0xFFFFFFFF); },
       not_base},
      {"body length over the parameters",
       [](auto& b) { Put32(b, dic::kBodyLengthAt, Get32(b, dic::kBodyLengthAt) + P); }, not_base},
      {"parameters past the file", [&](auto& b) { Put32(b, dic::kParamsOffsetAt, size); },
       not_base},
      {"parameters misaligned", [](auto& b) { Put32(b, dic::kParamsOffsetAt, P + 2); }, not_base},
  };
  for (const TCase& c : cases) {
    auto bytes = original;
    c.damage(bytes);
    const std::string path = Path("damaged.dic");
    WriteBytes(path, bytes);
    std::string expected = c.message;
    if (const auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(OpenError(path), expected) << c.name;
    if (expected.empty()) {
      EXPECT_EQ(table_.RecordCount(), 100) << c.name;
      table_.Last();
      EXPECT_EQ(table_.GetTrans(), u"translation w0099") << c.name;
    }
  }
  // The same object opens a sound file after all that.
  EXPECT_EQ(OpenError(good), "");
  EXPECT_EQ(table_.RecordCount(), 100);
}

TEST_F(DicTableTest, TruncatedFilesAreNotBaseAndEmptyOnesFailAtMapping) {
  const std::string good = Path("good.dic");
  Compile(good, LongEntries(), {kEnglish, kRussian, true, false});
  const auto original = ReadBytes(good);
  std::vector<std::size_t> sizes = {1, 3, 4, 7, 8, 100, 2269, 2270, P - 1};
  for (std::size_t s = P; s < original.size(); s += P / 2) sizes.push_back(s);
  sizes.push_back(original.size() - 1);
  for (std::size_t s : sizes) {
    const std::string path = Path("cut.dic");
    WriteBytes(path, std::vector<std::uint8_t>(original.begin(), original.begin() + s));
    EXPECT_EQ(OpenError(path), NotBase(path)) << s << " bytes";
  }
  const std::string empty = Path("empty.dic");
  WriteBytes(empty, {});
  EXPECT_EQ(OpenError(empty).rfind("Win32 Error.  Code: ", 0), 0u);
  try {
    table_.FileName = Path("absent.dic");
    table_.Open();
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 2u);
    EXPECT_EQ(std::string(e.what()).rfind("Win32 Error.  Code: 2.\n", 0), 0u) << e.what();
  }
}

// Damage that Open cannot see without reading every page is met when the
// page is read: an exception naming the file, never a crash.
TEST_F(DicTableTest, DamageInsidePagesRaisesWhenThePageIsRead) {
  const std::string good = Path("good.dic");
  Compile(good, LongEntries(), {kEnglish, kRussian, false, true});
  const auto original = ReadBytes(good);
  const std::uint32_t root = Get32(original, dic::kLayerOffsetsAt + 4);
  const std::uint32_t leaf = Get32(original, dic::kLeafOffsetAt);
  const auto offset_of_item = [&](std::uint32_t page, int i) { return page + 2 + 2 * i; };
  const std::string path = Path("damaged.dic");
  const auto expect_raise = [&](const char* what, auto damage, auto action,
                                const std::string& message) {
    auto bytes = original;
    damage(bytes);
    WriteBytes(path, bytes);
    ASSERT_EQ(OpenError(path), "") << what;
    try {
      action();
      ADD_FAILURE() << what << ": no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), message) << what;
    }
  };
  const auto walk = [&] {
    for (table_.First(); !table_.Eof(); table_.Next()) table_.GetWord();
  };
  const auto walk_back = [&] {
    for (table_.Last(); !table_.Bof(); table_.Prior()) table_.GetWord();
  };
  expect_raise(
      "leaf item count",
      [&](auto& b) {
        b[leaf + 5 * P] = 0xFF;
        b[leaf + 5 * P + 1] = 0xFF;
      },
      walk, NotBase(path));
  expect_raise(
      "leaf item count 0", [&](auto& b) { b[leaf + 5 * P] = 0; }, walk, NotBase(path));
  expect_raise(
      "leaf item offset in the table",
      [&](auto& b) {
        b[offset_of_item(leaf, 3)] = 4;
        b[offset_of_item(leaf, 3) + 1] = 0;
      },
      walk, NotBase(path));
  expect_raise(
      "leaf items past the record count", [&](auto& b) { Put32(b, dic::kRecordCountAt, 99); }, walk,
      NotBase(path));
  expect_raise(
      "first leaf page empty", [&](auto& b) { b[leaf] = 0; }, walk_back, NotBase(path));
  expect_raise(
      "child index", [&](auto& b) { Put32(b, root + P - 1008 + 4, 9999); },
      [&] { table_.Seek(u"w0000"); }, NotBase(path));
  expect_raise(
      "child record number",
      [&](auto& b) {
        // The root claims that layer 0's page 1 starts at record 5.
        Put32(b, root + (b[root + 4] | b[root + 5] << 8), 5);
      },
      [&] { table_.SetRecNo(10); }, NotBase(path));
  expect_raise(
      "body offset past the stream",
      [&](auto& b) { Put32(b, leaf + (b[leaf + 2] | b[leaf + 3] << 8), 0x7FFFFFF0); },
      [&] {
        table_.First();
        table_.GetTrans();
      },
      NotBase(path));
  expect_raise(
      "next body offset past the stream",
      [&](auto& b) { Put32(b, leaf + (b[leaf + 4] | b[leaf + 5] << 8), 0x7FFFFFF0); },
      [&] {
        table_.SetRecNo(0);
        table_.GetTrans();
      },
      NotBase(path));
  expect_raise(
      "body offsets out of order",
      [&](auto& b) { Put32(b, leaf + (b[leaf + 2] | b[leaf + 3] << 8), 1000); },
      [&] {
        table_.SetRecNo(0);
        table_.GetTrans();
      },
      NotBase(path));
  try {
    auto bytes = original;
    // A stored body whose first byte says "compressed" but is not.
    const std::uint32_t body = Get32(bytes, dic::kBodyStartAt);
    bytes[body] = 0;
    WriteBytes(path, bytes);
    ASSERT_EQ(OpenError(path), "");
    table_.First();
    table_.GetTrans();
    ADD_FAILURE() << "garbage decompressed";
  } catch (const EBodyFormat&) {
  }
}

// Random byte flips anywhere but the header: whatever the damage, every
// operation either works or raises the library's Exception.
TEST_F(DicTableTest, RandomDamageNeverEscapesAsAnythingButAnError) {
  const std::string good = Path("good.dic");
  Compile(good, LongEntries(), {kEnglish, kRussian, false, true});
  const auto original = ReadBytes(good);
  std::mt19937 random(1);
  const std::string path = Path("flipped.dic");
  int raised = 0;
  for (int round = 0; round < 150; ++round) {
    auto bytes = original;
    for (int k = 0; k < 1 + round % 8; ++k) {
      const std::size_t at = P + random() % (bytes.size() - P);
      bytes[at] = static_cast<std::uint8_t>(random());
    }
    WriteBytes(path, bytes);
    try {
      ASSERT_EQ(OpenError(path), "");
      int steps = 0;
      for (table_.First(); !table_.Eof() && steps < 200; table_.Next(), ++steps) {
        table_.GetWord();
        table_.GetTrans();
      }
      ASSERT_LT(steps, 200) << "a walk must end";
      for (int k = 0; k < 20; ++k) {
        table_.FindNearest(LongEntries()[random() % 100].word);
        table_.FindExact(u"w00" + WideString(1, static_cast<char16_t>(u'0' + k % 10)));
        table_.SetRecNo(static_cast<std::int32_t>(random() % 120) - 10);
        table_.GetDescription();
      }
    } catch (const Exception&) {
      ++raised;
    }
  }
  EXPECT_GT(raised, 0);
}

// A file of page size p built by hand: three words under one index page,
// a body stream "A1B22" and a name.
std::vector<std::uint8_t> HandBuilt(std::uint32_t p, bool scrambled) {
  std::vector<std::uint8_t> b(5 * p, 0);
  std::memcpy(b.data(), "VDIC", 4);
  Put32(b, dic::kVersionAt, 3);
  Put32(b, dic::kPageSizeAt, p);
  Put32(b, dic::kRecordCountAt, 3);
  Put32(b, dic::kLeafOffsetAt, 2 * p);
  Put32(b, dic::kLayerCountAt, 1);
  Put32(b, dic::kLayerOffsetsAt, p);
  Put32(b, dic::kBodyStartAt, 3 * p);
  Put32(b, dic::kBodyLengthAt, 5);
  Put32(b, dic::kParamsOffsetAt, 4 * p);
  Put32(b, dic::kLanguageAt, kEnglish);
  Put32(b, dic::kTransLanguageAt, kEnglish);
  b[dic::kScrambledAt] = scrambled;
  TPageKey key;
  for (std::uint32_t i = 0; i < 32; ++i) key[i] = 0x9E3779B9u * (i + 1);
  WritePageKey(b.data(), key);
  TPageMan pm;
  pm.PageSize = p;
  pm.Page = b.data() + p;
  std::uint8_t* c = pm.AddItem(8 + 5);
  TPageMan::PutInt(c, 0);
  TPageMan::PutInt(c, 0);
  TPageMan::PutStr(c, "alpha");
  pm.Page = b.data() + 2 * p;
  const std::pair<int, std::string> leaf[] = {{0, "alpha"}, {2, "beta"}, {5, "gamma"}};
  for (const auto& [offset, word] : leaf) {
    c = pm.AddItem(4 + static_cast<int>(word.size()));
    TPageMan::PutInt(c, offset);
    TPageMan::PutStr(c, word);
  }
  std::memcpy(b.data() + 3 * p, "A1B22", 5);
  pm.Page = b.data() + 4 * p;
  c = pm.AddItem(8);
  TPageMan::PutWideStr(c, u"Name");
  pm.AddItem(0);
  pm.AddItem(0);
  if (scrambled)
    for (std::uint32_t n = 1; n < 5; ++n) ScramblePage(b.data() + n * p, key, p, n);
  return b;
}

TEST_F(DicTableTest, ReadsEveryAddressablePageSizeAndRefusesOthers) {
  for (std::uint32_t p : {4096u, 8192u, 16384u, 32768u}) {
    for (bool scrambled : {false, true}) {
      const std::string path = Path("p" + std::to_string(p) + (scrambled ? "s" : "") + ".dic");
      WriteBytes(path, HandBuilt(p, scrambled));
      ASSERT_EQ(OpenError(path), "") << p;
      EXPECT_EQ(table_.PageSize(), p);
      std::vector<WideString> seen;
      for (table_.First(); !table_.Eof(); table_.Next())
        seen.push_back(table_.GetWord() + u"=" + table_.GetTrans());
      EXPECT_EQ(seen, (std::vector<WideString>{u"alpha=A1", u"beta=B22", u"gamma="})) << p;
      EXPECT_EQ(table_.GetName(), u"Name") << p;
      EXPECT_TRUE(table_.FindExact(u"Beta"));
      EXPECT_EQ(table_.RecNo(), 1);
    }
  }
  // A 65536-byte page cannot be addressed by 16-bit item offsets.
  auto b = HandBuilt(32768, false);
  Put32(b, dic::kPageSizeAt, 65536);
  b.resize(5 * 65536);
  WriteBytes(Path("p65536.dic"), b);
  EXPECT_EQ(OpenError(Path("p65536.dic")), NotBase(Path("p65536.dic")));
}

TEST_F(DicTableTest, EmptyDictionaryChangesNothingButSeekResets) {
  Compile(Path("empty.dic"), {});
  ASSERT_EQ(OpenError(Path("empty.dic")), "");
  EXPECT_TRUE(table_.Bof() && table_.Eof());
  table_.First();
  table_.Next();
  table_.Prior();
  table_.Last();
  table_.SetRecNo(5);
  table_.FindNearest(u"a");
  EXPECT_FALSE(table_.FindExact(u"a"));
  EXPECT_TRUE(table_.Bof() && table_.Eof());
  EXPECT_EQ(table_.RecNo(), 0);
  EXPECT_EQ(table_.PageNo(), 0);
  EXPECT_EQ(table_.GetWord(), u"");
  EXPECT_EQ(table_.GetTrans(), u"");
  EXPECT_FALSE(table_.Seek(u"a"));
  EXPECT_EQ(table_.PageNo(), -1);
  EXPECT_EQ(table_.ItemNo(), -1);
  EXPECT_FALSE(table_.Bof());
  EXPECT_FALSE(table_.Eof());
  EXPECT_EQ(table_.GetWord(), u"");
  EXPECT_EQ(table_.FirstChars(), u"");
}

TEST_F(DicTableTest, RecordRangeEnds) {
  const auto entries = RandomEntries(3, 2000, 3, 12);
  const auto n = static_cast<std::int32_t>(entries.size());
  Compile(Path("d.dic"), entries);
  ASSERT_EQ(OpenError(Path("d.dic")), "");
  table_.SetRecNo(-5);
  EXPECT_EQ(table_.RecNo(), 0);
  EXPECT_EQ(table_.GetWord(), entries[0].word);
  table_.SetRecNo(n + 10);
  EXPECT_EQ(table_.RecNo(), n - 1);
  EXPECT_EQ(table_.GetWord(), entries[n - 1].word);
  EXPECT_FALSE(table_.Eof());
  table_.Next();
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(table_.RecNo(), n - 1);
  EXPECT_EQ(table_.GetWord(), entries[n - 1].word);
  table_.Prior();
  EXPECT_FALSE(table_.Eof());
  EXPECT_EQ(table_.GetWord(), entries[n - 2].word);
  table_.First();
  table_.Prior();
  EXPECT_TRUE(table_.Bof());
  EXPECT_EQ(table_.RecNo(), 0);
  table_.Next();
  EXPECT_FALSE(table_.Bof());
  EXPECT_EQ(table_.GetWord(), entries[1].word);
  table_.Last();
  EXPECT_EQ(table_.RecNo(), n - 1);
  table_.Seek(entries[5].word);
  EXPECT_FALSE(table_.Bof() || table_.Eof());
}

TEST_F(DicTableTest, NearestAndExactSearch) {
  Compile(Path("a.dic"), Words({u"abc", u"abde", u"xyz"}));
  ASSERT_EQ(OpenError(Path("a.dic")), "");
  table_.FindNearest(u"abd");
  EXPECT_EQ(table_.GetWord(), u"abde") << "3 shared characters against 2";
  Compile(Path("b.dic"), Words({u"abc", u"abe", u"xyz"}));
  ASSERT_EQ(OpenError(Path("b.dic")), "");
  table_.FindNearest(u"abd");
  EXPECT_EQ(table_.GetWord(), u"abc") << "a tie goes to the earlier word";

  Compile(Path("c.dic"), Words({u"apple", u"r\u00e9sum\u00e9", u"zebra"}));
  ASSERT_EQ(OpenError(Path("c.dic")), "");
  // Seek orders by primary weight, then case: the capitals sort first.
  EXPECT_FALSE(table_.Seek(u"RESUME"));
  EXPECT_EQ(table_.GetWord(), u"apple");
  EXPECT_TRUE(table_.Seek(u"r\u00e9sum\u00e9"));
  // FindExact ignores case and diacritics next to the seek position.
  table_.First();
  EXPECT_TRUE(table_.FindExact(u"RESUME"));
  EXPECT_EQ(table_.RecNo(), 1);
  table_.SetRecNo(2);
  EXPECT_FALSE(table_.FindExact(u"banana"));
  EXPECT_EQ(table_.RecNo(), 2) << "a miss goes back where it was";
  EXPECT_EQ(table_.GetWord(), u"zebra");
  EXPECT_FALSE(table_.FindExact(u"zz"));
  EXPECT_TRUE(table_.Eof()) << "a miss past the last word stays at the end";
  EXPECT_EQ(table_.RecNo(), 2);
}

TEST_F(DicTableTest, OneWordPageIsSearchedWithoutComparing) {
  Compile(Path("one.dic"), Words({u"house"}));
  ASSERT_EQ(OpenError(Path("one.dic")), "");
  EXPECT_FALSE(table_.Seek(u"house")) << "a one-item page reports no match";
  EXPECT_EQ(table_.RecNo(), 0);
  EXPECT_FALSE(table_.Seek(u"zzz"));
  EXPECT_EQ(table_.RecNo(), 0);
  EXPECT_TRUE(table_.FindExact(u"HOUSE"));
  EXPECT_FALSE(table_.FindExact(u"mouse"));
  EXPECT_TRUE(table_.Eof());
  table_.FindNearest(u"hose");
  EXPECT_EQ(table_.GetWord(), u"house");
}

TEST_F(DicTableTest, ScrambledGranulesReadTheSameInAnyOrder) {
  const std::string path = Path("s.dic");
  Compile(path, LongEntries(), {kEnglish, kRussian, true, true});
  WriteBaseParams(path, u"Long words", u"LW", u"Words of a thousand letters");
  const auto plain = ReadBytes(path);
  // Scrambled pages do not show their words.
  const std::string needle = "w0050xxxxxxxx";
  EXPECT_EQ(std::search(plain.begin(), plain.end(), needle.begin(), needle.end()), plain.end());

  TDicTable params_first;
  params_first.FileName = path;
  params_first.Open();
  const WideString description = params_first.GetDescription();
  params_first.SetRecNo(0);
  const WideString word = params_first.GetWord();
  const WideString trans = params_first.GetTrans();

  TDicTable word_first;
  word_first.FileName = path;
  word_first.Open();
  EXPECT_EQ(word_first.GetWord(), word);
  EXPECT_EQ(word_first.GetTrans(), trans);
  EXPECT_EQ(word_first.GetDescription(), description);
  EXPECT_EQ(description, u"Words of a thousand letters");
  EXPECT_EQ(word, LongEntries()[0].word);
  EXPECT_TRUE(word_first.FindExact(LongEntries()[77].word));
  EXPECT_EQ(word_first.GetTrans(), u"translation w0077");
}

TEST_F(DicTableTest, CharacterSetsAreInCollationOrder) {
  Compile(Path("c.dic"), Words({u"Apple", u"apricot", u"banana", u"\u00e9clair"}));
  ASSERT_EQ(OpenError(Path("c.dic")), "");
  EXPECT_EQ(table_.FirstChars(), u"Aab\u00e9");
  EXPECT_EQ(table_.LangChars(), u"Aabce\u00e9ilnoprt");
  table_.Close();
  EXPECT_EQ(table_.FirstChars(), u"");
}

// A language of a double-byte code page: keys are converted through the
// code page, not byte by byte. Half-width katakana are single bytes there.
TEST_F(DicTableTest, DoubleByteCodePageWordsAreReadAndFound) {
  constexpr std::uint16_t kJapanese = 1041;
  const std::vector<TEntry> entries = {
      {u"a\uff71", u"one"}, {u"b\uff72\uff73", u"two"}, {u"c\uff74", u"three"}, {u"dd", u"four"}};
  Compile(Path("ja.dic"), entries, {kJapanese, kEnglish, false, false});
  ASSERT_EQ(OpenError(Path("ja.dic")), "");
  std::vector<WideString> words;
  for (table_.First(); !table_.Eof(); table_.Next()) words.push_back(table_.GetWord());
  ASSERT_EQ(words.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(words[i], entries[i].word);
    EXPECT_TRUE(table_.FindExact(entries[i].word)) << i;
    EXPECT_EQ(table_.GetTrans(), entries[i].trans) << i;
  }
}

TEST_F(DicTableTest, CloseLetsTheFileBeReplacedAndReopened) {
  const std::string path = Path("live.dic");
  Compile(path, Words({u"old"}));
  ASSERT_EQ(OpenError(path), "");
  EXPECT_EQ(table_.GetWord(), u"old");
  table_.Close();
  // Nothing of the old file is reachable once closed.
  EXPECT_EQ(table_.RecordCount(), 0);
  table_.Next();
  EXPECT_EQ(table_.GetWord(), u"");
  EXPECT_EQ(table_.GetTrans(), u"");
  EXPECT_THROW(table_.GetName(), Exception);
  Compile(Path("live.tmp"), Words({u"new", u"newer"}));
  ASSERT_TRUE(
      win::MoveFileExA(Path("live.tmp").c_str(), path.c_str(), win::MOVEFILE_REPLACE_EXISTING));
  table_.Open();
  EXPECT_EQ(table_.RecordCount(), 2);
  EXPECT_EQ(table_.GetWord(), u"new");
}

}  // namespace
}  // namespace vandrel::test
