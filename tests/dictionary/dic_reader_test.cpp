// Reader positions over one shared dictionary file: independent walks in
// both directions while another position seeks, positions that outlive the
// owner's handle on the file, concurrent readers of a scrambled file, and
// the detail that damage carries.
#include "dictionary/dic_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "dictionary/dic_format.h"
#include "dictionary/dic_table.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

class DicReaderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  ScratchDir dir_;
};

TEST_F(DicReaderTest, PositionsWalkingOneFileInOppositeDirectionsSeeOnlyTheirOwnSequence) {
  // Enough words for several leaf pages and two index layers.
  const std::vector<TEntry> entries = RandomEntries(7, 6000, 3, 40);
  const std::string path = Path("walk.dic");
  Compile(path, entries, TSettings{kEnglish, kRussian, /*scrambled=*/true, /*compressed=*/true});
  const auto file = TDicFile::Open(path);
  ASSERT_EQ(file->RecordCount(), static_cast<std::int32_t>(entries.size()));
  ASSERT_GE(file->LayerCount(), 1u);
  ASSERT_GT(file->LeafPageCount(), 3);

  TDicReader forward(file), backward(file), seeker(file);
  forward.First();
  backward.Last();
  std::mt19937 random(11);
  std::vector<WideString> forward_seen, backward_seen;
  for (std::size_t step = 0; step < entries.size(); ++step) {
    ASSERT_FALSE(forward.Eof());
    ASSERT_FALSE(backward.Bof());
    forward_seen.push_back(forward.GetWord());
    // The third position seeks between the two walkers' steps and reads a
    // translation, which must not move either walker.
    const std::size_t target = random() % entries.size();
    seeker.Seek(entries[target].word);
    EXPECT_EQ(seeker.RecNo(), static_cast<std::int32_t>(target));
    EXPECT_EQ(seeker.GetTrans(), entries[target].trans);
    backward_seen.push_back(backward.GetWord());
    EXPECT_EQ(forward.RecNo(), static_cast<std::int32_t>(step));
    EXPECT_EQ(backward.GetTrans(), entries[entries.size() - 1 - step].trans);
    forward.Next();
    backward.Prior();
  }
  EXPECT_TRUE(forward.Eof());
  EXPECT_TRUE(backward.Bof());
  ASSERT_EQ(forward_seen.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(forward_seen[i], entries[i].word) << i;
    EXPECT_EQ(backward_seen[i], entries[entries.size() - 1 - i].word) << i;
  }
}

// Seeks compare the key with the items' bytes where they lie: the word
// found must be the last one not greater than the key by the word order,
// for keys between the words, in other cases, with accents, longer than
// the byte comparison takes, and for keys in the dictionary.
TEST_F(DicReaderTest, SeekFindsTheLastWordNotGreaterThanAnyKey) {
  const std::vector<TEntry> entries = RandomEntries(3, 4000, 1, 30);
  const std::string path = Path("seek.dic");
  Compile(path, entries);
  const auto file = TDicFile::Open(path);
  ASSERT_EQ(file->RecordCount(), static_cast<std::int32_t>(entries.size()));
  TDicReader reader(file);
  std::mt19937 random(17);
  const WideString letters = u"aAbBeE\u00e9\u00c9zZ '-\u0430\u4e00";
  for (int round = 0; round < 6000; ++round) {
    WideString key = entries[random() % entries.size()].word;
    switch (random() % 4) {
      case 0:
        break;
      case 1:
        key.resize(random() % (key.size() + 1));
        break;
      case 2:
        if (!key.empty()) key[random() % key.size()] = letters[random() % letters.size()];
        break;
      case 3:
        key.append(random() % 2 == 0 ? 1 : 140, letters[random() % letters.size()]);
        break;
    }
    // The last entry not greater than key, or the first when all are.
    const auto after = std::upper_bound(
        entries.begin(), entries.end(), key,
        [](const WideString& k, const TEntry& e) { return CompareWords(k, e.word) < 0; });
    const std::size_t want = after == entries.begin() ? 0 : after - entries.begin() - 1;
    const bool exact = after != entries.begin() && CompareWords(key, entries[want].word) == 0;
    // True only for an equal word met on the way down.
    if (reader.Seek(key)) {
      ASSERT_TRUE(exact) << round;
    }
    ASSERT_EQ(reader.RecNo(), static_cast<std::int32_t>(want)) << round;
    ASSERT_EQ(reader.GetWord(), entries[want].word) << round;
  }
}

TEST_F(DicReaderTest, APositionKeepsItsFileAfterTheOwnerLetsGoAndTheFileIsReplaced) {
  const std::string path = Path("keep.dic");
  Compile(path, Words({u"apple", u"banana", u"cherry"}));
  TDicTable table;
  table.FileName = path;
  table.Open();
  TDicReader reader(table.File());
  reader.Last();
  table.Close();
  // The name now leads to another file; the position reads the old one.
  std::filesystem::remove(path);
  Compile(path, Words({u"zebra"}));
  EXPECT_EQ(reader.GetWord(), u"cherry");
  reader.Prior();
  EXPECT_EQ(reader.GetTrans(), u"t:banana");
  table.Open();
  EXPECT_EQ(table.GetWord(), u"zebra");
}

TEST_F(DicReaderTest, APositionWithoutAFileIsAnEmptyDictionary) {
  TDicReader reader;
  EXPECT_TRUE(reader.Bof());
  EXPECT_TRUE(reader.Eof());
  reader.First();
  reader.Next();
  reader.SetRecNo(5);
  EXPECT_FALSE(reader.FindExact(u"a"));
  reader.FindNearest(u"a");
  EXPECT_EQ(reader.RecordCount(), 0);
  EXPECT_EQ(reader.GetWord(), u"");
  EXPECT_EQ(reader.GetTrans(), u"");
}

TEST_F(DicReaderTest, ThreadsReadingOneScrambledFileAgreeWithOneReader) {
  const std::vector<TEntry> entries = RandomEntries(3, 3000, 2, 30);
  const std::string path = Path("threads.dic");
  Compile(path, entries, TSettings{kEnglish, kRussian, /*scrambled=*/true, /*compressed=*/false});
  // Fresh file: no granule has its private copy yet, so the threads race
  // to make them.
  const auto file = TDicFile::Open(path);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      TDicReader reader(file);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t k = (i * 7 + static_cast<std::size_t>(t) * 997) % entries.size();
        if (!reader.FindExact(entries[k].word) || reader.GetTrans() != entries[k].trans)
          ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(DicReaderTest, DamageNamesTheCheckAndThePlaceAndKeepsTheUsersMessage) {
  const std::string path = Path("damaged.dic");
  Compile(path, LongEntries());
  auto bytes = ReadBytes(path);
  const std::uint32_t p = Get32(bytes, dic::kPageSizeAt);
  const std::uint32_t leaf = Get32(bytes, dic::kLeafOffsetAt);
  // The item table of the third leaf page points past the page.
  bytes[leaf + 2 * p + 2] = 0xFF;
  bytes[leaf + 2 * p + 3] = 0xFF;
  WriteBytes(path, bytes);
  TDicReader reader(TDicFile::Open(path));
  try {
    for (reader.First(); !reader.Eof(); reader.Next()) reader.GetWord();
    FAIL() << "the damaged page was read";
  } catch (const EDicDamaged& e) {
    EXPECT_EQ(std::string(e.what()), "File " + path + " is not base");
    ASSERT_NE(DamageOf(e), nullptr);
    EXPECT_EQ(e.Damage().Where(), "leaf page 2");
    EXPECT_EQ(e.Damage().item, 0);
    EXPECT_EQ(e.Damage().Detail(), "leaf page 2, item 0 (file offset " +
                                       std::to_string(leaf + 2 * p) + "): item outside the page");
  }
  // The records before the damaged page still read.
  reader.Prior();
  EXPECT_EQ(reader.GetWord(), LongEntries()[static_cast<std::size_t>(reader.RecNo())].word);
}

}  // namespace
}  // namespace vandrel::test
