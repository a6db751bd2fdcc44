// CR_MATCH through the real service: every strategy over three random
// dictionaries against a brute-force reference over their merged word list
// (words, dictionary order, the bases holding each), the cursor left where
// it was, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "client/cursor_match_client.h"
#include "client/service_error.h"
#include "dictionary/word_match.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TMatchedWord;

class CursorMatchE2eTest : public E2eTest {};

struct TExpected {
  WideString word;
  std::vector<win::HWND> bases;
};

TEST_F(CursorMatchE2eTest, EveryStrategyAnswersTheMergedListOfTheSet) {
  std::mt19937 random(2229);
  const WideString letters = u"abcdeefhilmnorstuAEHS\u00e9 ";
  std::vector<std::vector<WideString>> lists(3);
  for (std::size_t b = 0; b < lists.size(); ++b) {
    std::vector<WideString> words;
    for (int i = 0; i < 800; ++i) {
      WideString w;
      for (std::size_t n = 1 + random() % 7; n > 0; --n) w += letters[random() % letters.size()];
      if (w[0] == u' ') w[0] = u'a';
      if (w.back() == u' ') w.back() = u'e';
      words.push_back(w);
    }
    words.insert(words.end(), {u"house", u"House", u"houses", u"mouse"});
    std::sort(words.begin(), words.end(),
              [](const WideString& x, const WideString& y) { return CompareWords(x, y) < 0; });
    words.erase(std::unique(words.begin(), words.end(),
                            [](const WideString& x, const WideString& y) {
                              return CompareWords(x, y) == 0;
                            }),
                words.end());
    std::vector<TEntry> entries;
    for (const WideString& w : words) entries.push_back({w, u"t"});
    Compile("D" + std::to_string(b) + ".dic", entries);
    lists[b] = words;
  }
  auto set = NewSet();
  std::vector<win::HWND> handles;
  for (std::size_t b = 0; b < lists.size(); ++b)
    handles.push_back(set->OpenBase(u"D" + WideString(1, u'0' + b) + u".dic").Remote());
  client::TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"house"));
  const client::TCursorState before = cursor.State();

  // The merged list: each distinct word once, with the bases that hold it.
  std::vector<TExpected> merged;
  for (std::size_t b = 0; b < lists.size(); ++b)
    for (const WideString& w : lists[b]) merged.push_back({w, {handles[b]}});
  std::stable_sort(merged.begin(), merged.end(), [](const TExpected& x, const TExpected& y) {
    return CompareWords(x.word, y.word) < 0;
  });
  std::vector<TExpected> distinct;
  for (const TExpected& e : merged) {
    if (!distinct.empty() && CompareWords(distinct.back().word, e.word) == 0)
      distinct.back().bases.push_back(e.bases[0]);
    else
      distinct.push_back(e);
  }

  const std::vector<std::pair<TMatchStrategy, WideString>> cases = {
      {TMatchStrategy::Exact, u"HOUSE"},   {TMatchStrategy::Prefix, u"h\u00c9"},
      {TMatchStrategy::Prefix, u""},       {TMatchStrategy::NPrefix, u"hous"},
      {TMatchStrategy::NPrefix, u"zz"},    {TMatchStrategy::NPrefix, u"a"},
      {TMatchStrategy::Substring, u"se"},  {TMatchStrategy::Suffix, u"E"},
      {TMatchStrategy::Glob, u"h*s?"},     {TMatchStrategy::Glob, u"[a-e]?"},
      {TMatchStrategy::Re, u"^m[aeiou]+"}, {TMatchStrategy::Re, u"s$"},
      {TMatchStrategy::Lev, u"hoose"},     {TMatchStrategy::Lev2, u"mise"},
      {TMatchStrategy::Soundex, u"Hause"}, {TMatchStrategy::Word, u"SE"},
  };
  for (const auto& [strategy, pattern] : cases) {
    for (const std::int32_t limit : {3, 100000}) {
      const char* name = MatchStrategyName(strategy);
      SCOPED_TRACE(std::string(name) + " " + std::to_string(limit));
      std::vector<TExpected> expected;
      if (strategy == TMatchStrategy::NPrefix) {
        std::size_t start = 0;
        bool begins = false;
        for (std::size_t i = 0; i < distinct.size() && !begins; ++i) {
          const WideView w = distinct[i].word;
          if (CompareWeighted(w.substr(0, pattern.size()), pattern, kWeightPrimary) == 0) {
            start = i;
            begins = true;
          }
        }
        for (std::size_t i = 0; i < distinct.size() && !begins; ++i)
          if (CompareWeighted(distinct[i].word, pattern, kWeightPrimary) < 0) start = i;
        for (std::size_t i = start;
             i < distinct.size() && expected.size() < static_cast<std::size_t>(limit); ++i)
          expected.push_back(distinct[i]);
      } else {
        const TWordMatcher matcher(strategy, pattern);
        for (const TExpected& e : distinct)
          if (expected.size() < static_cast<std::size_t>(limit) && matcher.Matches(e.word))
            expected.push_back(e);
      }
      const std::vector<TMatchedWord> answer =
          client::MatchWords(cursor, WideString(name, name + std::strlen(name)), pattern, limit);
      ASSERT_EQ(answer.size(), expected.size());
      for (std::size_t i = 0; i < answer.size(); ++i) {
        EXPECT_EQ(answer[i].Word, expected[i].word) << i;
        EXPECT_EQ(answer[i].Bases, expected[i].bases) << i;
      }
      if (limit > 3 && strategy != TMatchStrategy::NPrefix) {
        EXPECT_FALSE(expected.empty());
      }
    }
  }

  // The cursor stayed where it was and still reads its word's translation.
  EXPECT_EQ(cursor.GetPosition(), before.Position);
  EXPECT_EQ(cursor.State().Word, before.Word);
  EXPECT_EQ(cursor.GetTrans(before.Bases[0]), u"t");
  EXPECT_TRUE(cursor.Next());
  EXPECT_EQ(CompareWords(cursor.State().Word, before.Word), 1);
}

TEST_F(CursorMatchE2eTest, RefusesUnknownStrategiesBadPatternsAndLimits) {
  Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
  auto set = NewSet();
  client::TCursorClient& empty_cursor = set->NewCursor();
  EXPECT_TRUE(client::MatchWords(empty_cursor, u"prefix", u"", 10).empty());
  set->OpenBase(u"A.dic");
  client::TCursorClient& cursor = set->NewCursor();
  auto code_of = [&](std::u16string_view strategy, std::u16string_view text, int limit) {
    try {
      client::MatchWords(cursor, strategy, text, limit);
    } catch (const EServiceError& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(code_of(u"fuzzy", u"a", 10), 224);
  EXPECT_EQ(code_of(u"re", u"a(b", 10), 225);
  EXPECT_EQ(code_of(u"glob", u"[ab", 10), 225);
  EXPECT_EQ(code_of(u"prefix", u"a", -1), 226);
  EXPECT_EQ(code_of(u"prefix", u"a", 100001), 226);
  EXPECT_EQ(client::MatchWords(cursor, u"PREFIX", u"CH", 0).size(), 0u);
  const auto words = client::MatchWords(cursor, u"lev", u"aple", 10);
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0].Word, u"apple");
}

}  // namespace
}  // namespace vandrel::test
