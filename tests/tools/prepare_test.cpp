// Preparing entries for the compiler: the word length and code-page rules,
// what the word code page replaces, sorting and merging.
#include "tools/common/prepare.h"

#include <gtest/gtest.h>

#include "dictionary/charmap.h"
#include "platform/utf8.h"
#include "tools/common/dictd_source.h"

namespace vandrel::tools {
namespace {

constexpr std::uint16_t kEn = 0x0409;
constexpr std::uint16_t kRu = 0x0419;
constexpr std::uint16_t kDe = 0x0407;

std::vector<SourceEntry> Entries(std::initializer_list<std::pair<WideString, WideString>> list) {
  std::vector<SourceEntry> v;
  std::uint32_t line = 1;
  for (const auto& [w, t] : list) v.push_back({w, t, line++});
  return v;
}

std::vector<PreparedEntry> Prepare(std::vector<SourceEntry> e, std::uint16_t a, std::uint16_t /*b*/,
                                   PrepareStats& stats) {
  return PrepareEntries(std::move(e), a, stats);
}

TEST(Prepare, SortsByWordOrderAndMergesEqualWords) {
  PrepareStats stats;
  auto out = Prepare(Entries({{u"zebra", u"z"},
                              {u"\u00e9t\u00e9", u"summer"},  // été
                              {u"abc", u"small"},
                              {u"ete", u"first spelling lost"},
                              {u"ABC", u"capital"},
                              {u"\u00e9t\u00e9", u"summer"},  // same translation again
                              {u"\u00e9t\u00e9", u""},
                              {u"et\u00e9",
                               u"\x05"
                               u"span\x05"}}),
                     kEn, kEn, stats);
  ASSERT_EQ(out.size(), 4u);
  // Capitals sort before small letters; "ete", "été" and "eté" are one word
  // (diacritics do not count), kept in its first spelling in source order.
  EXPECT_EQ(out[0].word, u"ABC");
  EXPECT_EQ(out[1].word, u"abc");
  EXPECT_EQ(out[2].word, u"\u00e9t\u00e9");
  EXPECT_EQ(out[2].trans, u"summer; first spelling lost; \x05span\x05");
  EXPECT_EQ(out[3].word, u"zebra");
  EXPECT_EQ(stats.source_entries, 8u);
  EXPECT_EQ(stats.merged, 4u);
  for (std::size_t i = 1; i < out.size(); ++i)
    EXPECT_LT(CompareWords(out[i - 1].word, out[i].word), 0);
}

std::string Base64(std::uint64_t v) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % 64]);
    v /= 64;
  } while (v);
  return s;
}

TEST(Prepare, DefinitionsKeptAsBytesGiveTheTranslationsOfConvertedOnes) {
  // Equal words in and out of order, duplicates before and after
  // conversion, empty and blank definitions first, last and between.
  const std::pair<const char*, std::string> defs[] = {
      {"zebra", "z\n"},
      {"\xC3\xA9t\xC3\xA9", "summer"},
      {"abc", "small"},
      {"ete", "first \r\nspelling"},
      {"ABC", "capital"},
      {"\xC3\xA9t\xC3\xA9", " summer\n"},  // equal once converted
      {"\xC3\xA9t\xC3\xA9", ""},
      {"et\xC3\xA9",
       "Stra\xDF"
       "e"},  // Latin-1
      {"w", " \n "},
      {"W", "x"},
      {"w", "y"},
      {"w", "y"},
      {"w", ""},
      {"v", ""},
      {"v", "later"},
      {"v", "later\t"},
      {"single", "alone"}};
  std::string data, index;
  for (const auto& [word, def] : defs) {
    index += std::string(word) + "\t" + Base64(data.size()) + "\t" + Base64(def.size()) + "\n";
    data += def;
  }
  PrepareStats lazy_stats, text_stats;
  Source lazy_source = ParseDictdSource(index, std::make_shared<const std::string>(data), "t");
  Source text_source = ParseDictdSource(index, std::string_view(data), "t");
  const auto lazy = PrepareEntries(std::move(lazy_source.entries), kDe, lazy_stats);
  const auto text = PrepareEntries(std::move(text_source.entries), kDe, text_stats);
  ASSERT_EQ(lazy.size(), text.size());
  WideString buffer;
  std::size_t kept_as_bytes = 0;
  for (std::size_t i = 0; i < lazy.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lazy[i].bytes, text[i].bytes);
    EXPECT_EQ(lazy[i].word, text[i].word);
    EXPECT_TRUE(text[i].definition.empty());
    EXPECT_EQ(WideString(TranslationOf(lazy[i], buffer)), text[i].trans);
    kept_as_bytes += !lazy[i].definition.empty();
  }
  EXPECT_GE(kept_as_bytes, 5u);
  EXPECT_EQ(lazy_stats.merged, text_stats.merged);
  EXPECT_EQ(lazy_stats.trans_chars, text_stats.trans_chars);
  EXPECT_EQ(lazy_stats.word_chars, text_stats.word_chars);
  // What the merges gave, read once more from the converted side.
  const auto at = [&](const WideString& w) {
    for (const PreparedEntry& e : text)
      if (e.word == w) return e.trans;
    return WideString(u"(missing)");
  };
  EXPECT_EQ(at(u"\u00e9t\u00e9"), u"summer; first \x0Dspelling; Stra\u00dfe");
  EXPECT_EQ(at(u"w"), u"y");
  EXPECT_EQ(at(u"v"), u"later");
}

TEST(Prepare, EmptyTranslationsDoNotAddSeparators) {
  PrepareStats stats;
  auto out =
      Prepare(Entries({{u"w", u""}, {u"W", u"x"}, {u"w", u"y"}, {u"w", u""}}), kEn, kEn, stats);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].word, u"W");
  EXPECT_EQ(out[1].word, u"w");
  EXPECT_EQ(out[1].trans, u"y");
}

TEST(Prepare, WordsOfOneTo1024BytesAreKeptOthersSkipped) {
  PrepareStats stats;
  auto out = Prepare(Entries({{u"", u"empty"},
                              {WideString(1024, u'a'), u"longest"},
                              {WideString(1025, u'b'), u"too long"},
                              {u"x", u"shortest"}}),
                     kEn, kEn, stats);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].trans, u"longest");
  EXPECT_EQ(out[1].trans, u"shortest");
  EXPECT_EQ(stats.skipped_length, 2u);
  ASSERT_EQ(stats.notes.size(), 2u);
  EXPECT_EQ(stats.notes[0].line, 1u);
  EXPECT_EQ(stats.notes[1].line, 3u);
}

TEST(Prepare, WordsGoThroughTheWordCodePageBeforeSorting) {
  PrepareStats stats;
  // Cyrillic words in an English dictionary: both become "???" and so one
  // entry; German letters survive code page 1252.
  auto out = Prepare(Entries({{u"\u0434\u043e\u043c", u"house"},
                              {u"\u0441\u044b\u0440", u"cheese"},
                              {u"Stra\u00dfe", u"street"}}),
                     kEn, kEn, stats);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].word, u"???");
  EXPECT_EQ(out[0].trans, u"house; cheese");
  EXPECT_EQ(out[1].word, u"Stra\u00dfe");
  EXPECT_EQ(stats.words_changed, 2u);
  EXPECT_EQ(stats.merged, 1u);
  // In a Russian dictionary they are kept as they are.
  PrepareStats ru;
  auto kept =
      Prepare(Entries({{u"\u0434\u043e\u043c", u"house"}, {u"\u0441\u044b\u0440", u"cheese"}}), kRu,
              kEn, ru);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].word, u"\u0434\u043e\u043c");
  EXPECT_EQ(ru.words_changed, 0u);
}

TEST(Prepare, TranslationsAreKeptWordsConvertedOnceWithTheirLossCounted) {
  PrepareStats stats;
  auto out = Prepare(Entries({{u"Haus", u"house \u0434\u043e\u043c [ha\u028As]"},
                              {u"\u0434\u043e\u043c", u"x"},
                              {u"Stra\u00dfe\u0101", u"street"},
                              {u"\u03b1", u"alpha"},
                              {u"\u03b2\u03b3", u"beta"}}),
                     kDe, kEn, stats);
  // "?", "??" and "???" sort before letters.
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0].word, u"?");
  // The translation is left to the codec, which keeps every character.
  EXPECT_EQ(out[3].word, u"Haus");
  EXPECT_EQ(out[3].trans, u"house \u0434\u043e\u043c [ha\u028As]");
  // The word bytes are what the compiler stores; the word is their reading.
  EXPECT_EQ(out[3].bytes, "Haus");
  EXPECT_EQ(out[4].bytes,
            "Stra\xdf"
            "e?");
  EXPECT_EQ(out[4].word, u"Stra\u00dfe?");
  EXPECT_EQ(stats.words_changed, 4u);
  EXPECT_EQ(stats.word_chars_replaced, 7u);
  EXPECT_EQ(stats.lost, u"\u0434\u043e\u043c\u0101\u03b1\u03b2\u03b3");
  ASSERT_EQ(stats.loss_examples.size(), 3u);
  EXPECT_EQ(stats.loss_examples[0].line, 2u);
  EXPECT_EQ(stats.loss_examples[0].text, "word \"\u0434\u043e\u043c\" stored as \"???\"");
  EXPECT_EQ(stats.word_chars, 4u + 3 + 7 + 1 + 2);
  EXPECT_EQ(stats.trans_chars, 16u + 1 + 6 + 5 + 4);
}

TEST(Prepare, MalformedTranslationNamesItsLine) {
  PrepareStats stats;
  try {
    Prepare(Entries({{u"a", u"ok"}, {u"b", u"\x05open"}}), kEn, kEn, stats);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
  }
}

// Everything PrepareEntries gives, side by side for two runs.
void ExpectSamePreparation(const std::vector<PreparedEntry>& a, const PrepareStats& sa,
                           const std::vector<PreparedEntry>& b, const PrepareStats& sb) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a[i].bytes, b[i].bytes);
    EXPECT_EQ(a[i].word, b[i].word);
    EXPECT_EQ(a[i].trans, b[i].trans);
    EXPECT_EQ(a[i].definition, b[i].definition);
    EXPECT_EQ(a[i].joined, b[i].joined);
  }
  EXPECT_EQ(sa.source_entries, sb.source_entries);
  EXPECT_EQ(sa.skipped_length, sb.skipped_length);
  EXPECT_EQ(sa.words_changed, sb.words_changed);
  EXPECT_EQ(sa.word_chars_replaced, sb.word_chars_replaced);
  EXPECT_EQ(sa.word_chars, sb.word_chars);
  EXPECT_EQ(sa.trans_chars, sb.trans_chars);
  EXPECT_EQ(sa.lost, sb.lost);
  EXPECT_EQ(sa.merged, sb.merged);
  const auto same_notes = [](const std::vector<PrepareNote>& x, const std::vector<PrepareNote>& y) {
    ASSERT_EQ(x.size(), y.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      EXPECT_EQ(x[i].line, y[i].line);
      EXPECT_EQ(x[i].text, y[i].text);
    }
  };
  same_notes(sa.loss_examples, sb.loss_examples);
  same_notes(sa.notes, sb.notes);
}

TEST(Prepare, ThreadsSharingTheWorkGiveWhatOneGives) {
  // Words repeated far apart (so in different parts), in and out of order,
  // changed by the code page, skipped, as text and as dictd definitions;
  // more notes of each kind than are kept.
  std::string data, index;
  std::vector<SourceEntry> text;
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (std::uint32_t i = 0; i < 3000; ++i) {
    const std::uint32_t r = next();
    std::string word;
    WideString wide;
    if (r % 97 == 0) {
      word = "\xD0\xB4\xD0\xBE\xD0\xBC";  // Cyrillic: changed
      word += std::to_string(r % 5);
      wide = u"\u0434\u043e\u043c" + Utf8ToWideOrThrow(std::to_string(r % 5));
    } else if (r % 89 == 0) {
      word = std::string(1100, 'x');  // skipped
      wide = WideString(1100, u'x');
    } else {
      word = r % 3 ? "w" : "W";
      word += std::to_string(r % 700);
      wide = Utf8ToWideOrThrow(word);
    }
    const std::string def = r % 11 == 0 ? "" : " def " + std::to_string(r % 13) + "\n";
    index += word + "\t" + Base64(data.size()) + "\t" + Base64(def.size()) + "\n";
    data += def;
    text.push_back({wide,
                    r % 7 == 0 ? WideString() : u"text " + Utf8ToWideOrThrow(std::to_string(r % 5)),
                    i + 1});
  }
  const auto owner = std::make_shared<const std::string>(data);
  for (std::uint16_t language : {kEn, kRu}) {
    PrepareStats one_stats;
    const auto one = PrepareEntries(ParseDictdSource(index, owner, "t").entries, language,
                                    one_stats, nullptr, 1);
    ASSERT_GT(one_stats.merged, 1000u);
    ASSERT_GT(one_stats.skipped_length, 5u);
    for (std::size_t threads : {2, 3, 7}) {
      SCOPED_TRACE(threads);
      PrepareStats stats;
      ExpectSamePreparation(one, one_stats,
                            PrepareEntries(ParseDictdSource(index, owner, "t").entries, language,
                                           stats, nullptr, threads),
                            stats);
    }
  }
  PrepareStats one_stats, two_stats;
  const auto one = PrepareEntries(text, kEn, one_stats, nullptr, 1);
  EXPECT_GT(one_stats.words_changed, 5u);
  const auto two = PrepareEntries(text, kEn, two_stats, nullptr, 2);
  ExpectSamePreparation(one, one_stats, two, two_stats);
}

TEST(Prepare, MoreThreadsThanEntries) {
  for (std::size_t threads : {2, 5}) {
    SCOPED_TRACE(threads);
    PrepareStats stats;
    EXPECT_TRUE(PrepareEntries({}, kEn, stats, nullptr, threads).empty());
    EXPECT_EQ(stats.source_entries, 0u);
    // The second entry alone in its part merges into the first.
    const auto out = PrepareEntries(Entries({{u"b", u"1"}, {u"B", u"2"}, {u"b", u"3"}}), kEn, stats,
                                    nullptr, threads);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].word, u"B");
    EXPECT_EQ(out[1].word, u"b");
    EXPECT_EQ(out[1].trans, u"1; 3");
    EXPECT_EQ(stats.merged, 1u);
  }
}

TEST(Prepare, TheFirstMalformedTranslationIsReportedWhicheverThreadMeetsIt) {
  for (std::size_t threads : {1, 2, 4}) {
    PrepareStats stats;
    try {
      PrepareEntries(Entries({{u"a", u"ok"},
                              {u"b", u"\x05open"},
                              {u"c", u"ok"},
                              {u"d", u"ok"},
                              {u"e", u"\x05open"},
                              {u"f", u"\x05open"}}),
                     kEn, stats, nullptr, threads);
      ADD_FAILURE() << threads;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace vandrel::tools
