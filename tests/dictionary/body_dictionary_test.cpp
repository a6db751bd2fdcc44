// The trained body dictionary of a compressed file (codec 2): where the
// compiler stores it, how the reader loads it, and what damage to it or
// its absence does: the body error for the bodies that need it, never a
// crash, and everything else still readable. Files without one (codec 1)
// read as before; a merge that copies codec-2 bodies must keep their
// dictionary.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "dictionary/compression.h"
#include "dictionary/dic_file.h"
#include "dictionary/dic_format.h"
#include "dictionary/dic_table.h"
#include "dictionary/vocab_compiler.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

// Translations that look like a real dictionary's: a few hundred bytes of
// recurring vocabulary and marks, varied enough that each body differs.
std::vector<TEntry> Entries(std::size_t count) {
  static const char16_t* const kWords[] = {
      u"house",   u"building", u"home", u"to live", u"dwelling", u"<n>",    u"<v>",
      u"[arch.]", u"family",   u"roof", u"door",    u"garden",   u"street", u"town"};
  std::vector<TEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    std::string digits = std::to_string(100000 + i);
    WideString word(digits.begin(), digits.end());
    word[0] = u'w';
    WideString trans = u"\x05" + word + u"\x05 ";
    for (std::size_t k = 0; k < 12 + i % 17; ++k) {
      trans += kWords[(i * 7 + k * k) % 14];
      trans += k % 5 == 4 ? u"\r" : u", ";
    }
    entries.push_back({word, trans});
  }
  return entries;
}

struct TCodecCounts {
  std::size_t plain = 0, codec1 = 0, codec2 = 0;
};

TCodecCounts CountCodecs(const std::string& path) {
  TDicTable table;
  table.FileName = path;
  table.Open();
  TCodecCounts counts;
  for (table.First(); !table.Eof(); table.Next()) {
    const std::string body = table.Reader().GetStoredBody();
    if (body.size() < 2 || body[0] != '\0')
      ++counts.plain;
    else if (body[1] == '\x01')
      ++counts.codec1;
    else if (body[1] == '\x02')
      ++counts.codec2;
  }
  return counts;
}

void CompileWith(const std::string& path, const std::vector<TEntry>& entries, std::size_t capacity,
                 bool scrambled = false) {
  TVocabCompiler compiler;
  compiler.SetScrambled(scrambled);
  compiler.SetCompressed(true);
  compiler.SetDictionaryCapacity(capacity);
  compiler.BeginCompile(path);
  for (const TEntry& e : entries) compiler.AddWord(e.word, e.trans);
  compiler.EndCompile();
  EXPECT_EQ(compiler.Report().dictionary_bytes > 0, capacity > 0);
}

// Every translation read back; returns how many raised the body error.
std::size_t ReadAll(const std::string& path, const std::vector<TEntry>& entries) {
  TDicTable table;
  table.FileName = path;
  table.Open();
  std::size_t failed = 0;
  std::size_t i = 0;
  for (table.First(); !table.Eof(); table.Next(), ++i) {
    EXPECT_EQ(table.GetWord(), entries[i].word);
    try {
      EXPECT_EQ(table.GetTrans(), entries[i].trans) << i;
    } catch (const EDicBodyDamaged& e) {
      const TDamage* damage = DamageOf(e);
      EXPECT_NE(damage, nullptr);
      if (damage) {
        EXPECT_EQ(damage->record, static_cast<std::int64_t>(i));
      }
      ++failed;
    }
  }
  EXPECT_EQ(i, entries.size());
  return failed;
}

void PutCrc(std::vector<std::uint8_t>& b) {
  const std::uint32_t at = Get32(b, dic::kDictionaryOffsetAt);
  const std::uint32_t length = Get32(b, dic::kDictionaryLengthAt);
  Put32(b, dic::kDictionaryCrcAt, static_cast<std::uint32_t>(crc32(0, b.data() + at, length)));
}

class BodyDictionaryTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_.path() + "/" + name; }
  ScratchDir dir_;
};

TEST_F(BodyDictionaryTest, CompressedFileKeepsOneDictionaryAndEveryLongBodyUsesIt) {
  const auto entries = Entries(3000);
  for (bool scrambled : {false, true}) {
    const std::string path = Path(scrambled ? "s.dic" : "p.dic");
    CompileWith(path, entries, 8192, scrambled);
    const auto b = ReadBytes(path);
    EXPECT_EQ(Get32(b, dic::kVersionAt), dic::kVersionWithDictionary);
    const std::uint32_t p = Get32(b, dic::kPageSizeAt);
    const std::uint32_t at = Get32(b, dic::kDictionaryOffsetAt);
    const std::uint32_t length = Get32(b, dic::kDictionaryLengthAt);
    // Its own pages, between the body stream and the parameters page.
    EXPECT_GT(length, 1024u);
    EXPECT_LE(length, 8192u);
    EXPECT_EQ(at % p, 0u);
    EXPECT_GE(at, Get32(b, dic::kBodyStartAt) + Get32(b, dic::kBodyLengthAt));
    EXPECT_EQ(Get32(b, dic::kParamsOffsetAt), (at + length + p - 1) / p * p);

    const auto file = TDicFile::Open(path);
    ASSERT_NE(file->BodyDictionary(), nullptr);
    EXPECT_EQ(file->BodyDictionary()->Bytes().size(), length);
    EXPECT_EQ(file->BodyDictionaryProblem(), "");
    const TCodecCounts counts = CountCodecs(path);
    EXPECT_EQ(counts.codec1, 0u);
    EXPECT_EQ(counts.codec2, entries.size()) << "every body is over the threshold and shrinks";
    EXPECT_EQ(ReadAll(path, entries), 0u);
  }
}

TEST_F(BodyDictionaryTest, WithoutADictionaryTheFileIsCodecOneAsBefore) {
  const auto entries = Entries(3000);
  CompileWith(Path("c1.dic"), entries, 0);
  const auto b = ReadBytes(Path("c1.dic"));
  EXPECT_EQ(Get32(b, dic::kVersionAt), dic::kVersionWithoutEscapes);
  EXPECT_EQ(Get32(b, dic::kDictionaryOffsetAt), 0u);
  EXPECT_EQ(Get32(b, dic::kDictionaryLengthAt), 0u);
  const TCodecCounts counts = CountCodecs(Path("c1.dic"));
  EXPECT_EQ(counts.codec2, 0u);
  EXPECT_GT(counts.codec1, 0u);
  EXPECT_EQ(ReadAll(Path("c1.dic"), entries), 0u);
  // A sample too small for a dictionary gives codec 1 too.
  const auto few = Entries(20);
  CompileWith(Path("few.dic"), few, 0);
  TVocabCompiler compiler;
  compiler.SetCompressed(true);
  compiler.BeginCompile(Path("few2.dic"));
  for (const TEntry& e : few) compiler.AddWord(e.word, e.trans);
  compiler.EndCompile();
  EXPECT_EQ(compiler.Report().dictionary_bytes, 0u);
  EXPECT_EQ(CountCodecs(Path("few2.dic")).codec2, 0u);
  EXPECT_EQ(ReadAll(Path("few2.dic"), few), 0u);
}

TEST_F(BodyDictionaryTest, AFileWrittenBeforeTheDictionaryStillReads) {
  // Kept in the fuzz corpus: version 3, scrambled, one codec-1 body.
  const std::string path = std::string(VANDREL_SOURCE_DIR) +
                           "/fuzz/dictionary/corpus/dic_file/few_scrambled_compressed.dic";
  const auto file = TDicFile::Open(path);
  EXPECT_EQ(file->Version(), 3u);
  EXPECT_EQ(file->BodyDictionary(), nullptr);
  EXPECT_EQ(CountCodecs(path).codec1, 1u);
  TDicTable table;
  table.FileName = path;
  table.Open();
  ASSERT_TRUE(table.FindExact(u"cat"));
  EXPECT_EQ(table.GetTrans(), WideString(200, u'\u043a'));
}

TEST_F(BodyDictionaryTest, DamagedDictionaryGivesTheBodyErrorForItsBodiesOnly) {
  auto entries = Entries(3000);
  entries.push_back({u"x", u"short"});  // plain: reads whatever the dictionary
  CompileWith(Path("d.dic"), entries, 8192);
  const auto good = ReadBytes(Path("d.dic"));
  const std::uint32_t at = Get32(good, dic::kDictionaryOffsetAt);
  const std::uint32_t length = Get32(good, dic::kDictionaryLengthAt);

  struct TCase {
    const char* name;
    std::size_t flip;  // byte of the dictionary to change
    bool fix_crc;
    const char* problem;
  };
  for (const TCase& c :
       {TCase{"crc", length / 2, false, "fails its CRC"}, TCase{"magic", 0, true, "is damaged"},
        TCase{"tables", 9, true, "is damaged"}}) {
    SCOPED_TRACE(c.name);
    auto b = good;
    b[at + c.flip] ^= 0x5A;
    if (c.fix_crc) PutCrc(b);
    WriteBytes(Path("bad.dic"), b);
    const auto file = TDicFile::Open(Path("bad.dic"));
    if (std::string(c.name) == "tables" && file->BodyDictionaryProblem().empty()) {
      // The codec accepted the changed tables: bodies decode to something
      // or fail, never crash.
      TDicTable table;
      table.FileName = Path("bad.dic");
      table.Open();
      for (table.First(); !table.Eof(); table.Next()) {
        try {
          table.GetTrans();
        } catch (const EBodyFormat&) {
        }
      }
      continue;
    }
    EXPECT_NE(file->BodyDictionaryProblem().find(c.problem), std::string::npos)
        << file->BodyDictionaryProblem();
    EXPECT_EQ(file->BodyDictionary(), nullptr);
    // Every codec-2 body fails with the body error; the plain one reads.
    EXPECT_EQ(ReadAll(Path("bad.dic"), entries), entries.size() - 1);
    TDicTable table;
    table.FileName = Path("bad.dic");
    table.Open();
    table.First();
    try {
      table.GetTrans();
      ADD_FAILURE() << "a codec-2 body read without its dictionary";
    } catch (const EDicBodyDamaged& e) {
      EXPECT_NE(std::string(e.what()).find("Compressed body is corrupt"), std::string::npos);
      EXPECT_NE(DamageOf(e)->Detail().find("body of record 0"), std::string::npos);
    }
  }
}

TEST_F(BodyDictionaryTest, BodyReferringToAMissingDictionaryGivesTheBodyError) {
  const auto entries = Entries(3000);
  CompileWith(Path("d.dic"), entries, 8192);
  auto b = ReadBytes(Path("d.dic"));
  // The header no longer names the dictionary (as in an older version).
  for (std::uint32_t version : {dic::kVersionWithDictionary, dic::kVersionWithEscapes}) {
    Put32(b, dic::kVersionAt, version);
    Put32(b, dic::kDictionaryOffsetAt, 0);
    Put32(b, dic::kDictionaryLengthAt, 0);
    WriteBytes(Path("nodict.dic"), b);
    EXPECT_EQ(TDicFile::Open(Path("nodict.dic"))->BodyDictionary(), nullptr);
    EXPECT_EQ(ReadAll(Path("nodict.dic"), entries), entries.size());
  }
  TDicTable table;
  table.FileName = Path("nodict.dic");
  table.Open();
  table.First();
  EXPECT_THROW(
      {
        try {
          table.GetEncodedBody();
        } catch (const EDicBodyDamaged& e) {
          EXPECT_STREQ(e.what(),
                       "Compressed body is corrupt: it needs the file's body dictionary, and the "
                       "file has none.");
          throw;
        }
      },
      EDicBodyDamaged);
}

TEST_F(BodyDictionaryTest, DictionaryOutsideItsPagesIsADamagedHeader) {
  const auto entries = Entries(3000);
  CompileWith(Path("d.dic"), entries, 8192);
  const auto good = ReadBytes(Path("d.dic"));
  const std::uint32_t p = Get32(good, dic::kPageSizeAt);
  const std::uint32_t params = Get32(good, dic::kParamsOffsetAt);
  const std::uint32_t at = Get32(good, dic::kDictionaryOffsetAt);
  const std::uint32_t length = Get32(good, dic::kDictionaryLengthAt);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> bad = {
      {at + 1, length},       // not on a page boundary
      {at - p, length},       // over the body stream
      {at, params - at + 1},  // into the parameters page
      {at, 0xFFFFFFF0u},      // far past the end
      {0, length},            // a length without an offset
      {at, 0}};               // an offset without a length
  for (const auto& [offset, size] : bad) {
    auto b = good;
    Put32(b, dic::kDictionaryOffsetAt, offset);
    Put32(b, dic::kDictionaryLengthAt, size);
    WriteBytes(Path("bad.dic"), b);
    EXPECT_THROW(TDicFile::Open(Path("bad.dic")), EDicDamaged) << offset << " " << size;
  }
  // Below version 5 the fields are not read at all.
  auto b = good;
  Put32(b, dic::kVersionAt, dic::kVersionWithEscapes);
  Put32(b, dic::kDictionaryOffsetAt, 0xFFFFFFF0u);
  WriteBytes(Path("v4.dic"), b);
  EXPECT_EQ(TDicFile::Open(Path("v4.dic"))->BodyDictionary(), nullptr);
}

TEST_F(BodyDictionaryTest, CopiedCodecTwoBodiesNeedTheirDictionaryInTheNewFile) {
  const auto entries = Entries(3000);
  CompileWith(Path("src.dic"), entries, 8192);
  const auto source = TDicFile::Open(Path("src.dic"));
  ASSERT_NE(source->BodyDictionary(), nullptr);

  // Without the dictionary the copy is refused, before the file could be
  // written with bodies nobody can read.
  {
    TDicTable table;
    table.FileName = Path("src.dic");
    table.Open();
    table.First();
    TVocabCompiler compiler;
    compiler.SetCompressed(true);
    compiler.BeginCompile(Path("refused.dic"));
    EXPECT_THROW(compiler.AddStoredBody(table.GetWord(), table.Reader().GetStoredBody(), false),
                 Exception);
  }
  // With it (as a merge does), copied and new bodies share it.
  TDicTable table;
  table.FileName = Path("src.dic");
  table.Open();
  TVocabCompiler compiler;
  compiler.SetCompressed(true);
  compiler.SetBodyDictionary(source->BodyDictionary()->Bytes());
  compiler.BeginCompile(Path("merged.dic"));
  std::vector<TEntry> merged;
  for (table.First(); !table.Eof(); table.Next()) {
    compiler.AddStoredBody(table.GetWord(), table.Reader().GetStoredBody(), false);
    merged.push_back({table.GetWord(), table.GetTrans()});
  }
  const TEntry added{u"zz new", WideString(u"home, house, building, garden, ") + u"street, town"};
  compiler.AddWord(added.word, added.trans);
  merged.push_back(added);
  compiler.EndCompile();
  const auto file = TDicFile::Open(Path("merged.dic"));
  ASSERT_NE(file->BodyDictionary(), nullptr);
  EXPECT_EQ(file->BodyDictionary()->Bytes(), source->BodyDictionary()->Bytes());
  EXPECT_EQ(CountCodecs(Path("merged.dic")).codec2, merged.size());
  EXPECT_EQ(ReadAll(Path("merged.dic"), merged), 0u);
  // Bytes that are no dictionary are refused at once.
  TVocabCompiler other;
  EXPECT_THROW(other.SetBodyDictionary(std::string(4096, 'x')), EBodyFormat);
}

}  // namespace
}  // namespace vandrel::test
