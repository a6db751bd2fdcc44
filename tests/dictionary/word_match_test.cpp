// Match strategies against brute-force references: random dictionaries
// (English with accents and capitals, Russian, German), random patterns and
// their case and accent variants, every strategy read through the in-memory
// source and through compiled dictionary files; soundex codes; the lev walk
// reading a small part of a large list.
#include "dictionary/word_match.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>

#include "dictionary/dic_word_source.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

constexpr std::uint16_t kGerman = 1031;

std::string Utf8(WideView w) {
  std::string s;
  for (char16_t c : w) {
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else if (c < 0x800) {
      s += static_cast<char>(0xC0 | (c >> 6));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      s += static_cast<char>(0xE0 | (c >> 12));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s;
}

// Characters equal at primary strength (unknown characters only to
// themselves).
bool SameChar(char16_t a, char16_t b) {
  const std::int32_t wa = CharWeight(a, kWeightPrimary);
  const std::int32_t wb = CharWeight(b, kWeightPrimary);
  if (wa == 0 || wb == 0) return a == b;
  return wa == wb;
}

bool SameText(WideView a, WideView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameChar(a[i], b[i])) return false;
  return true;
}

int Levenshtein(WideView a, WideView b) {
  std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = static_cast<int>(i);
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j)
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (SameChar(a[i - 1], b[j - 1]) ? 0 : 1)});
  return d[a.size()][b.size()];
}

// Recursive glob over wide characters.
bool Glob(WideView p, WideView w) {
  if (p.empty()) return w.empty();
  if (p[0] == u'*') return Glob(p.substr(1), w) || (!w.empty() && Glob(p, w.substr(1)));
  if (w.empty()) return false;
  if (p[0] == u'?') return Glob(p.substr(1), w.substr(1));
  if (p[0] == u'[') {
    const std::size_t close = p.find(u']', 2);
    const bool negate = p[1] == u'!';
    const WideView set = p.substr(negate ? 2 : 1, close - (negate ? 2 : 1));
    bool in = false;
    for (std::size_t i = 0; i < set.size(); ++i) {
      if (i + 2 < set.size() && set[i + 1] == u'-') {
        const std::uint32_t c = FoldChar(w[0]);
        in = in || (c >= FoldChar(set[i]) && c <= FoldChar(set[i + 2]));
        i += 2;
      } else {
        in = in || SameChar(set[i], w[0]);
      }
    }
    return in != negate && Glob(p.substr(close + 1), w.substr(1));
  }
  return SameChar(p[0], w[0]) && Glob(p.substr(1), w.substr(1));
}

// The text as the regular expressions read it: letters as their base
// characters, ASCII punctuation as it is.
std::wstring BaseText(WideView w) {
  std::wstring s;
  for (char16_t c : w) s += static_cast<wchar_t>(c < 0x80 && !std::isalnum(c) ? c : BaseChar(c));
  return s;
}

using Reference = std::function<bool(WideView word)>;

Reference ReferenceFor(TMatchStrategy strategy, const WideString& p) {
  switch (strategy) {
    case TMatchStrategy::Exact:
      return [p](WideView w) { return SameText(w, p); };
    case TMatchStrategy::Prefix:
    case TMatchStrategy::NPrefix:
      return [p](WideView w) { return w.size() >= p.size() && SameText(w.substr(0, p.size()), p); };
    case TMatchStrategy::Substring:
      return [p](WideView w) {
        for (std::size_t i = 0; i + p.size() <= w.size(); ++i)
          if (SameText(w.substr(i, p.size()), p)) return true;
        return false;
      };
    case TMatchStrategy::Suffix:
      return [p](WideView w) {
        return w.size() >= p.size() && SameText(w.substr(w.size() - p.size()), p);
      };
    case TMatchStrategy::Glob:
      return [p](WideView w) { return Glob(p, w); };
    case TMatchStrategy::Re: {
      auto re = std::make_shared<std::wregex>(BaseText(p), std::regex::extended);
      return [re](WideView w) { return std::regex_search(BaseText(w), *re); };
    }
    case TMatchStrategy::Lev:
      return [p](WideView w) { return Levenshtein(w, p) <= 1; };
    case TMatchStrategy::Lev2:
      return [p](WideView w) { return Levenshtein(w, p) <= 2; };
    case TMatchStrategy::Soundex:
      return [p](WideView w) { return !Soundex(p).empty() && Soundex(w) == Soundex(p); };
    case TMatchStrategy::Word:
      return [p](WideView w) {
        std::size_t i = 0;
        while (i <= w.size()) {
          std::size_t end = w.find(u' ', i);
          if (end == WideView::npos) end = w.size();
          if (end > i && SameText(w.substr(i, end - i), p)) return true;
          i = end + 1;
        }
        return false;
      };
  }
  return nullptr;
}

// The words from the best match on: the first word that begins with p,
// else the last word before it, else the first.
std::vector<WideString> NPrefixReference(const std::vector<WideString>& words, WideView p,
                                         std::size_t limit) {
  std::size_t start = 0;
  bool found = false;
  for (std::size_t i = 0; i < words.size() && !found; ++i)
    if (words[i].size() >= p.size() && SameText(WideView(words[i]).substr(0, p.size()), p)) {
      start = i;
      found = true;
    }
  if (!found)
    for (std::size_t i = 0; i < words.size(); ++i)
      if (CompareWeighted(words[i], p, kWeightPrimary) < 0) start = i;
  std::vector<WideString> out;
  for (std::size_t i = start; i < words.size() && out.size() < limit; ++i) out.push_back(words[i]);
  return out;
}

struct TDictionary {
  const char* name;
  std::uint16_t language;
  WideString letters;
  // Accented and capital spellings a user may type for a plain letter.
  std::vector<std::pair<char16_t, char16_t>> variants;
};

const std::vector<TDictionary>& Dictionaries() {
  static const std::vector<TDictionary> all = {
      {"english",
       kEnglish,
       u"abcdeeeefghilmnoprstuuvyABEGHMST\u00e9\u00fc\u00f1 ",
       {{u'e', u'\u00e9'}, {u'e', u'E'}, {u'u', u'\u00dc'}, {u'n', u'\u00d1'}, {u'a', u'\u00e0'}}},
      {"russian",
       kRussian,
       u"\u0430\u0431\u0432\u0434\u0435\u0451\u0436\u0438\u043a\u043b\u043c\u043d\u043e\u043f"
       u"\u0440\u0441\u0442\u0443\u0410\u0411\u041a\u041c ",
       {{u'\u0435', u'\u0401'}, {u'\u0430', u'\u0410'}, {u'\u043a', u'\u041a'}}},
      {"german",
       kGerman,
       u"abcdefghiklmnorstuwz\u00e4\u00f6\u00fc\u00dfABDHKSU -",
       {{u'a', u'\u00c4'}, {u'o', u'\u00f6'}, {u'u', u'\u00dc'}, {u's', u'S'}}},
  };
  return all;
}

std::vector<WideString> RandomWords(const TDictionary& d, std::mt19937& random, std::size_t count) {
  std::vector<TEntry> entries;
  WideString previous;
  while (entries.size() < count) {
    const std::size_t len = 1 + random() % 9;
    WideString w;
    if (!previous.empty() && random() % 2 == 0) w = previous.substr(0, random() % previous.size());
    while (w.size() < len) w += d.letters[random() % d.letters.size()];
    if (w[0] == u' ' || w[0] == u'-') w[0] = d.letters[0];
    while (w.back() == u' ') w.back() = d.letters[1];
    previous = w;
    entries.push_back({w, u"t"});
  }
  SortUnique(entries);
  std::vector<WideString> words;
  for (const TEntry& e : entries) words.push_back(e.word);
  return words;
}

// A pattern for the strategy, from a word of the list (or random letters),
// in another letter case or with accents now and then.
WideString RandomPattern(TMatchStrategy strategy, const TDictionary& d,
                         const std::vector<WideString>& words, std::mt19937& random) {
  WideString base = words[random() % words.size()];
  if (random() % 5 == 0) {
    base.clear();
    for (std::size_t n = 1 + random() % 5; n > 0; --n) base += d.letters[random() % 20];
  }
  for (char16_t& c : base)
    for (const auto& [plain, variant] : d.variants)
      if (c == plain && random() % 3 == 0) c = variant;
  const std::size_t len = base.size();
  switch (strategy) {
    case TMatchStrategy::Prefix:
    case TMatchStrategy::NPrefix:
      return base.substr(0, random() % (len + 1));
    case TMatchStrategy::Substring:
      return base.substr(random() % len, 1 + random() % 3);
    case TMatchStrategy::Suffix:
      return base.substr(len - std::min<std::size_t>(len, 1 + random() % 3));
    case TMatchStrategy::Glob: {
      WideString g = base.substr(0, random() % (len + 1));
      const WideString tails[] = {u"*", u"?", u"*" + base.substr(len - 1), u"?*", u"", u"[a-e]*"};
      g += tails[random() % 6];
      if (len > 2 && random() % 3 == 0) g[random() % 2] = u'?';
      return g;
    }
    case TMatchStrategy::Re: {
      // Letters only: the expression's syntax is the reference's.
      WideString plain;
      for (char16_t c : base)
        if (c >= 0x80 || std::isalnum(c)) plain += c;
      if (plain.empty()) plain = d.letters.substr(0, 1);
      const WideString range = WideString(u"[") + d.letters[0] + u"-" + d.letters[7] + u"]";
      const WideString forms[] = {
          u"^" + plain.substr(0, 2) + u".*", u"^" + plain.substr(0, 1) + range + u"+$",
          plain.substr(0, 2) + u"(s|e)", u"^" + plain + u"$", u"^(" + plain.substr(0, 1) + u"|b)e"};
      return forms[random() % 5];
    }
    case TMatchStrategy::Word:
      if (base.find(u' ') != WideString::npos && random() % 2 == 0)
        return base.substr(base.find(u' ') + 1, base.find(u' ', base.find(u' ') + 1));
      return base;
    default:
      if (random() % 4 == 0 && len > 1) base.erase(random() % len, 1);
      if (random() % 4 == 0) base.insert(random() % (base.size() + 1), 1, d.letters[random() % 20]);
      return base;
  }
}

class WordMatchTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
};

TEST_F(WordMatchTest, EveryStrategyAnswersAsTheBruteForceReference) {
  std::mt19937 random(18);
  for (const TDictionary& d : Dictionaries()) {
    SCOPED_TRACE(d.name);
    const std::vector<WideString> words = RandomWords(d, random, 3000);
    std::vector<TEntry> entries;
    for (const WideString& w : words) entries.push_back({w, u"t"});
    const std::string path = dir_.path() + "/" + d.name + ".dic";
    TSettings settings;
    settings.language = d.language;
    Compile(path, entries, settings);
    const std::shared_ptr<const TDicFile> dic = TDicFile::Open(path);
    ASSERT_EQ(dic->RecordCount(), static_cast<std::int32_t>(words.size()));
    TVectorWordSource memory(words);
    TDicWordSource file(dic);

    for (const TStrategyInfo& info : MatchStrategies()) {
      std::size_t answered = 0;  // patterns with at least one answer
      for (int round = 0; round < 40; ++round) {
        const WideString pattern = RandomPattern(info.Strategy, d, words, random);
        SCOPED_TRACE(std::string(info.Name) + " \"" + Utf8(pattern) + "\"");
        const std::size_t limit = round % 4 == 0 ? 5 : 100000;
        std::vector<WideString> expected;
        if (info.Strategy == TMatchStrategy::NPrefix) {
          expected = NPrefixReference(words, pattern, round % 4 == 0 ? 5 : 30);
        } else {
          const Reference reference = ReferenceFor(info.Strategy, pattern);
          for (const WideString& w : words)
            if (expected.size() < limit && reference(w)) expected.push_back(w);
        }
        const std::size_t asked =
            info.Strategy == TMatchStrategy::NPrefix ? expected.size() : limit;
        TWordMatcher matcher(info.Strategy, pattern);
        std::vector<WideString> from_memory;
        std::vector<WideString> from_file;
        matcher.Collect(memory, std::max<std::size_t>(asked, 1), from_memory);
        matcher.Collect(file, std::max<std::size_t>(asked, 1), from_file);
        if (info.Strategy == TMatchStrategy::NPrefix && expected.empty()) {
          EXPECT_TRUE(from_memory.empty() || words.empty());
          continue;
        }
        EXPECT_EQ(from_memory, expected);
        EXPECT_EQ(from_file, expected);
        if (!expected.empty()) ++answered;
      }
      // Russian words have no soundex code.
      if (info.Strategy != TMatchStrategy::Soundex || d.language != kRussian) {
        EXPECT_GE(answered, 10u) << info.Name;
      }
    }
  }
}

TEST_F(WordMatchTest, CaseAndAccentsNeverCount) {
  const std::vector<WideString> words = {u"Haus",  u"H\u00e4user", u"hause",  u"house",
                                         u"HOUSE", u"h\u00f3use",  u"houses", u"mouse"};
  std::vector<WideString> sorted = words;
  std::sort(sorted.begin(), sorted.end(),
            [](const WideString& a, const WideString& b) { return CompareWords(a, b) < 0; });
  TVectorWordSource source(sorted);
  auto match = [&](TMatchStrategy s, WideView p) {
    std::vector<WideString> out;
    TWordMatcher(s, p).Collect(source, 100, out);
    return out;
  };
  EXPECT_EQ(match(TMatchStrategy::Exact, u"House").size(), 3u);  // house, HOUSE, hóuse
  EXPECT_EQ(match(TMatchStrategy::Exact, u"HAUSER"), std::vector<WideString>{u"H\u00e4user"});
  EXPECT_EQ(match(TMatchStrategy::Prefix, u"H\u00c4U").size(), 3u);
  EXPECT_EQ(match(TMatchStrategy::Re, u"^H\u00c4USE?R?$").size(), 3u);
  EXPECT_EQ(match(TMatchStrategy::Glob, u"[g-i]\u00d6US*").size(), 4u);
  EXPECT_EQ(match(TMatchStrategy::Lev, u"HOUSX").size(), 3u);
  EXPECT_EQ(match(TMatchStrategy::Suffix, u"SES").size(), 1u);
  EXPECT_THROW(TWordMatcher(TMatchStrategy::Re, u"^(ab"), EMatchPattern);
  EXPECT_THROW(TWordMatcher(TMatchStrategy::Glob, u"ab[cd"), EMatchPattern);
}

TEST(SoundexTest, KnownCodes) {
  EXPECT_EQ(Soundex(u"Robert"), "R163");
  EXPECT_EQ(Soundex(u"Rupert"), "R163");
  EXPECT_EQ(Soundex(u"Ashcraft"), "A261");
  EXPECT_EQ(Soundex(u"Tymczak"), "T522");
  EXPECT_EQ(Soundex(u"Pfister"), "P236");
  EXPECT_EQ(Soundex(u"Honeyman"), "H555");
  EXPECT_EQ(Soundex(u"\u00c9clair"), Soundex(u"eclair"));
  EXPECT_EQ(Soundex(u"\u0434\u043e\u043c"), "");
  EXPECT_EQ(Soundex(u""), "");
}

TEST(StrategyNamesTest, ParseEveryNameAndRefuseOthers) {
  for (const TStrategyInfo& info : MatchStrategies()) {
    TMatchStrategy s;
    ASSERT_TRUE(ParseMatchStrategy(info.Name, s));
    EXPECT_EQ(s, info.Strategy);
    EXPECT_STREQ(MatchStrategyName(s), info.Name);
  }
  TMatchStrategy s;
  EXPECT_TRUE(ParseMatchStrategy("LEV2", s));
  EXPECT_FALSE(ParseMatchStrategy("levv", s));
  EXPECT_FALSE(ParseMatchStrategy("", s));
}

TEST(LevWalkTest, ReadsASmallPartOfALargeList) {
  std::mt19937 random(7);
  const TDictionary& d = Dictionaries()[0];
  const std::vector<WideString> words = RandomWords(d, random, 60000);
  TVectorWordSource source(words);
  for (int i = 0; i < 20; ++i) {
    const WideString& w = words[random() % words.size()];
    if (w.size() < 5) continue;
    TMatchStats stats;
    std::vector<WideString> out;
    TWordMatcher(TMatchStrategy::Lev, w).Collect(source, 1000, out, &stats);
    EXPECT_NE(std::find(out.begin(), out.end(), w), out.end());
    EXPECT_LT(stats.WordsRead, words.size() / 4) << Utf8(w);
  }
}

}  // namespace
}  // namespace vandrel::test
