// Compile random dictionaries of every shape (empty, one word, one leaf
// page, many leaf pages, two and three index layers), scrambled or not,
// compressed or not, and read them back: every word, record number and
// translation in both directions, every word found, and random keys placed
// where a model over the sorted word list says they belong.
#include <gtest/gtest.h>

#include <tuple>

#include "dictionary/dic_table.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

struct TShape {
  const char* name;
  std::size_t count;
  std::size_t min_len;
  std::size_t max_len;
  std::uint32_t layers;
};

const TShape kShapes[] = {
    {"Empty", 0, 1, 1, 0},
    {"OneWord", 1, 5, 5, 1},
    {"OneLeafPage", 200, 3, 10, 1},
    {"ManyLeafPages", 3000, 3, 14, 1},
    {"TwoLayers", 3000, 150, 250, 2},
    {"ThreeLayers", 700, 900, 1024, 3},
};

using TParam = std::tuple<TShape, bool, bool>;  // shape, scrambled, compressed

std::size_t Shared(WideView a, WideView b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() &&
         CharWeight(a[i], kWeightPrimary) == CharWeight(b[i], kWeightPrimary))
    ++i;
  return i;
}

// The last word not greater than key, or 0.
std::int32_t ModelSeek(const std::vector<TEntry>& e, WideView key) {
  auto it = std::upper_bound(e.begin(), e.end(), key, [](WideView k, const TEntry& x) {
    return CompareWords(k, x.word) < 0;
  });
  return it == e.begin() ? 0 : static_cast<std::int32_t>(it - e.begin() - 1);
}

// Keys near the words: case changed, cut, extended, diacritics added, and
// strings that are not words at all.
std::vector<WideString> ProbeKeys(const std::vector<TEntry>& e, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<WideString> keys = {u"", u"a", u"zzzz", u"\u00e9", u"A", u"-"};
  for (int k = 0; k < 300 && !e.empty(); ++k) {
    WideString w = e[random() % e.size()].word;
    switch (k % 5) {
      case 0:
        w[0] = static_cast<char16_t>(w[0] >= u'a' && w[0] <= u'z' ? w[0] - 32 : w[0]);
        break;
      case 1:
        w.pop_back();
        break;
      case 2:
        w += u"b";
        break;
      case 3:
        for (auto& c : w)
          if (c == u'e') c = u'\u00e9';
        break;
      default:
        w = w.substr(0, random() % (w.size() + 1)) + u"m";
    }
    keys.push_back(w);
  }
  return keys;
}

class DicRoundTrip : public ::testing::TestWithParam<TParam> {
 protected:
  ScratchDir dir_;
};

TEST_P(DicRoundTrip, ReadsBackWhatWasCompiled) {
  const auto& [shape, scrambled, compressed] = GetParam();
  const auto entries = RandomEntries(static_cast<std::uint32_t>(shape.count * 7 + shape.max_len),
                                     shape.count, shape.min_len, shape.max_len);
  ASSERT_EQ(entries.size(), shape.count);
  const auto n = static_cast<std::int32_t>(entries.size());
  const std::string path = dir_.path() + "/words.dic";
  Compile(path, entries, {kEnglish, kRussian, scrambled, compressed});
  if (!scrambled) {
    VerifyLayout(ReadBytes(path), StoredWords(entries));
    if (HasFatalFailure()) return;
  }

  TDicTable table;
  table.FileName = path;
  table.Open();
  ASSERT_EQ(table.RecordCount(), n);
  EXPECT_EQ(table.LayerCount(), shape.layers);
  EXPECT_EQ(table.Scrambled(), scrambled);
  EXPECT_EQ(table.Compressed(), compressed);
  // A compressed file with enough long bodies trains a body dictionary.
  EXPECT_EQ(table.Version(), table.File()->BodyDictionary() ? 5u : 3u);
  if (!compressed) {
    EXPECT_EQ(table.File()->BodyDictionary(), nullptr);
  }
  EXPECT_EQ(table.Language(), kEnglish);
  EXPECT_EQ(table.TransLanguage(), kRussian);
  EXPECT_EQ(table.Bof(), n == 0);
  EXPECT_EQ(table.Eof(), n == 0);

  std::int32_t i = 0;
  for (table.First(); !table.Eof(); table.Next(), ++i) {
    ASSERT_LT(i, n);
    ASSERT_EQ(table.RecNo(), i);
    ASSERT_EQ(table.GetWord(), entries[i].word) << "record " << i;
    ASSERT_EQ(table.GetTrans(), entries[i].trans) << "record " << i;
  }
  EXPECT_EQ(i, n);
  if (n > 0) {
    EXPECT_EQ(table.RecNo(), n - 1) << "Next at the end does not move";
  }

  i = n - 1;
  for (table.Last(); !table.Bof(); table.Prior(), --i) {
    ASSERT_GE(i, 0);
    ASSERT_EQ(table.RecNo(), i);
    ASSERT_EQ(table.GetWord(), entries[i].word) << "record " << i;
  }
  EXPECT_EQ(i, -1);

  std::mt19937 random(17);
  for (int k = 0; k < 200 && n > 0; ++k) {
    const std::int32_t r = static_cast<std::int32_t>(random() % n);
    table.SetRecNo(r);
    ASSERT_EQ(table.RecNo(), r);
    ASSERT_EQ(table.GetWord(), entries[r].word);
    ASSERT_EQ(table.GetTrans(), entries[r].trans);
  }

  for (std::int32_t r = 0; r < n; ++r) {
    ASSERT_TRUE(table.FindExact(entries[r].word)) << "record " << r;
    ASSERT_EQ(table.RecNo(), r);
  }

  for (const WideString& key : ProbeKeys(entries, 99)) {
    if (n == 0) {
      EXPECT_FALSE(table.FindExact(key));
      continue;
    }
    // FindNearest: the neighbour sharing the longer prefix, the earlier on a tie.
    table.First();
    table.FindNearest(key);
    std::int32_t p = ModelSeek(entries, key);
    if (p + 1 < n && Shared(key, entries[p + 1].word) > Shared(key, entries[p].word)) ++p;
    ASSERT_EQ(table.RecNo(), p) << "nearest to key of " << key.size() << " chars";
    ASSERT_EQ(table.GetWord(), entries[p].word);

    // FindExact: the seek position or the one after it, at primary strength;
    // otherwise the cursor goes back where it was (unless it hit the end).
    const std::int32_t start = static_cast<std::int32_t>(random() % n);
    table.SetRecNo(start);
    const bool found = table.FindExact(key);
    p = ModelSeek(entries, key);
    if (CompareWeighted(key, entries[p].word, kWeightPrimary) == 0) {
      ASSERT_TRUE(found);
      ASSERT_EQ(table.RecNo(), p);
    } else if (p + 1 == n) {
      ASSERT_FALSE(found);
      ASSERT_TRUE(table.Eof());
      ASSERT_EQ(table.RecNo(), p);
    } else if (CompareWeighted(key, entries[p + 1].word, kWeightPrimary) == 0) {
      ASSERT_TRUE(found);
      ASSERT_EQ(table.RecNo(), p + 1);
    } else {
      ASSERT_FALSE(found);
      ASSERT_EQ(table.RecNo(), start);
      ASSERT_EQ(table.GetWord(), entries[start].word);
    }
  }
  table.Close();
  EXPECT_FALSE(table.IsOpen());
}

// What a dump and reload produces is the same file, byte for byte, apart
// from the creation time and the page key (plain files only: scrambled ones
// differ by their random page key).
class DicRecompile : public DicRoundTrip {};

TEST_P(DicRecompile, RecompilingWhatWasReadGivesTheSameFile) {
  const auto& [shape, scrambled, compressed] = GetParam();
  ASSERT_FALSE(scrambled);
  const auto entries = RandomEntries(static_cast<std::uint32_t>(shape.count + 5), shape.count,
                                     shape.min_len, shape.max_len);
  const std::string first = dir_.path() + "/first.dic";
  const std::string second = dir_.path() + "/second.dic";
  Compile(first, entries, {kEnglish, kRussian, false, compressed});

  std::vector<TEntry> read;
  {
    TDicTable table;
    table.FileName = first;
    table.Open();
    for (table.First(); !table.Eof(); table.Next())
      read.push_back({table.GetWord(), table.GetTrans()});
  }
  Compile(second, read, {kEnglish, kRussian, false, compressed});
  auto a = ReadBytes(first);
  auto b = ReadBytes(second);
  ASSERT_EQ(a.size(), b.size());
  for (auto* bytes : {&a, &b}) {
    std::fill(bytes->begin() + dic::kCreateTimeAt, bytes->begin() + dic::kCreateTimeAt + 8, 0);
    std::fill(bytes->begin() + dic::kPageKeyAt, bytes->begin() + dic::kPageKeyAt + 128, 0);
  }
  EXPECT_TRUE(a == b);
}

std::string ParamName(const ::testing::TestParamInfo<TParam>& info) {
  return std::string(std::get<0>(info.param).name) +
         (std::get<1>(info.param) ? "Scrambled" : "Plain") +
         (std::get<2>(info.param) ? "Compressed" : "");
}

INSTANTIATE_TEST_SUITE_P(Shapes, DicRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool(),
                                            ::testing::Bool()),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Shapes, DicRecompile,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Values(false),
                                            ::testing::Bool()),
                         ParamName);

}  // namespace
}  // namespace vandrel::test
