// The merged word list against a brute-force union of the dictionaries'
// word lists: from any located word, Next gives the smallest greater word
// of all bases and Prior the largest smaller one, each distinct word once,
// with exactly the bases that hold it and the position that counts them.
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "tests/model/model_fixture.h"

namespace vandrel::test {
namespace {

class MergedWalkTest : public ModelTest {
 protected:
  void MakeDicOf(const std::string& name, const std::vector<WideString>& words) {
    TVocabCompiler compiler;
    compiler.SetLanguage(1033);
    compiler.SetTransLanguage(1049);
    compiler.BeginCompile(Path(name));
    for (const WideString& w : words) compiler.AddWord(w, u"t:" + w);
    compiler.EndCompile();
  }
  // Sorted by CompareWords, equal words once.
  static std::vector<WideString> Sorted(std::vector<WideString> words) {
    std::sort(words.begin(), words.end(),
              [](const WideString& x, const WideString& y) { return CompareWords(x, y) < 0; });
    words.erase(std::unique(words.begin(), words.end(),
                            [](const WideString& x, const WideString& y) {
                              return CompareWords(x, y) == 0;
                            }),
                words.end());
    return words;
  }
  static int Move(TClientObject& cursor, std::uint16_t id) {
    return cursor.SendForInteger(id, kItemResult);
  }
  static int Locate(TClientObject& cursor, const WideString& text, bool wide) {
    return cursor.SendForInteger(CR_LOCATE, kItemResult, [&](TTransferMan& out) {
      out.WriteWideString(kItemWord, text);
      out.WriteInteger(kItemWideFlag, wide ? 1 : 0);
    });
  }
};

TEST_F(MergedWalkTest, WalksFromRandomWordsEqualTheUnionOfTheWordLists) {
  // Few letters, both cases, short words: many shared beginnings, case
  // variants of one word in different dictionaries, and words of one
  // dictionary between the neighbours of another.
  std::mt19937 random(2026);
  const WideString letters = u"abcAB";
  const auto random_word = [&](std::size_t max_len) {
    WideString w;
    const std::size_t len = 1 + random() % max_len;
    while (w.size() < len) w += letters[random() % letters.size()];
    return w;
  };
  std::vector<std::vector<WideString>> lists(3);
  for (auto& list : lists) {
    std::vector<WideString> words;
    for (int i = 0; i < 150; ++i) words.push_back(random_word(6));
    list = Sorted(words);
  }
  // The case of the report: {a} and {aa, abx}, located with "abc".
  lists[0].push_back(u"a");
  lists[1].push_back(u"aa");
  lists[1].push_back(u"abx");
  std::vector<WideString> all;
  std::vector<win::HWND> handles;
  TClient set = NewSet();
  for (std::size_t d = 0; d < lists.size(); ++d) {
    lists[d] = Sorted(lists[d]);
    const std::string name = "d" + std::to_string(d) + ".dic";
    MakeDicOf(name, lists[d]);
    handles.push_back(Open(*set, name));
    all.insert(all.end(), lists[d].begin(), lists[d].end());
  }
  const std::vector<WideString> merged = Sorted(all);
  // What the cursor must show on the merged word at index i.
  const auto holders = [&](const WideString& w) {
    std::set<std::int32_t> h;
    for (std::size_t d = 0; d < lists.size(); ++d)
      for (const WideString& x : lists[d])
        if (CompareWords(x, w) == 0) h.insert(static_cast<std::int32_t>(handles[d]));
    return h;
  };
  const auto position = [&](const WideString& w) {
    std::int32_t n = 0;
    for (const auto& list : lists)
      for (const WideString& x : list) n += CompareWords(x, w) <= 0 ? 1 : 0;
    return n;
  };
  const auto index_of = [&](const WideString& w) {
    for (std::size_t i = 0; i < merged.size(); ++i)
      if (CompareWords(merged[i], w) == 0) return static_cast<std::ptrdiff_t>(i);
    return std::ptrdiff_t{-1};
  };
  const auto check_state = [&](TClientObject& cursor, std::size_t i, const std::string& what) {
    ASSERT_EQ(Narrow(cursor.word), Narrow(merged[i])) << what;
    const std::set<std::int32_t> shown(cursor.handles.begin(), cursor.handles.end());
    EXPECT_EQ(shown.size(), cursor.handles.size()) << what << ": a base twice";
    EXPECT_EQ(shown, holders(merged[i])) << what << " on " << Narrow(merged[i]);
    EXPECT_EQ(cursor.position, position(merged[i])) << what << " on " << Narrow(merged[i]);
    EXPECT_EQ(cursor.is_last, i + 1 == merged.size()) << what << " on " << Narrow(merged[i]);
  };

  TClient cursor = NewCursor(*set);
  std::vector<WideString> starts = {u"abc"};
  for (int k = 0; k < 60; ++k) starts.push_back(random_word(5));
  for (std::size_t s = 0; s < starts.size(); ++s) {
    const WideString& start = starts[s];
    const bool wide = s % 2 == 0;
    const std::string label = "from " + Narrow(start);
    for (const bool forward : {true, false}) {
      ASSERT_EQ(Locate(*cursor, start, wide), 1) << label;
      const std::ptrdiff_t at = index_of(cursor->word);
      ASSERT_GE(at, 0) << label << ": located a word no dictionary holds";
      const auto i = static_cast<std::size_t>(at);
      check_state(*cursor, i, label);
      for (std::size_t k = 1; k <= 50; ++k) {
        const bool more = forward ? i + k < merged.size() : k <= i;
        ASSERT_EQ(Move(*cursor, forward ? CR_NEXT : CR_PRIOR), more ? 1 : 0)
            << label << (forward ? " next " : " prior ") << k;
        if (!more) {
          check_state(*cursor, forward ? merged.size() - 1 : 0, label + " at the end");
          break;
        }
        check_state(*cursor, forward ? i + k : i - k,
                    label + (forward ? " next " : " prior ") + std::to_string(k));
        if (HasFatalFailure()) return;
      }
    }
  }
  // The report's case: the cursor shows the word it chose ("a"), and the
  // next word is "aa", not "abx".
  ASSERT_EQ(Locate(*cursor, u"abc", true), 1);
  const std::ptrdiff_t at = index_of(cursor->word);
  ASSERT_GE(at, 0);
  ASSERT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Narrow(cursor->word), Narrow(merged[static_cast<std::size_t>(at) + 1]));
}

TEST_F(MergedWalkTest, AWordOfAnotherBaseAfterTheLastRecordIsNotTheEnd) {
  MakeDicOf("a.dic", {u"apple"});
  MakeDicOf("b.dic", {u"banana"});
  TClient set = NewSet();
  Open(*set, "a.dic");
  Open(*set, "b.dic");
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Narrow(cursor->word), "apple");
  EXPECT_FALSE(cursor->is_last) << "banana is still to come";
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Narrow(cursor->word), "banana");
  EXPECT_TRUE(cursor->is_last);
  ASSERT_EQ(Locate(*cursor, u"app", true), 1);
  EXPECT_EQ(Narrow(cursor->word), "apple");
  EXPECT_FALSE(cursor->is_last);
}

}  // namespace
}  // namespace vandrel::test
