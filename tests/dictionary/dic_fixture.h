// Helpers shared by the dictionary file tests: compiling a word list,
// random sorted word lists with translations, raw file bytes, and an
// independent parser of the file layout that checks the index structure.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/dic_format.h"
#include "dictionary/vocab_compiler.h"

namespace vandrel::test {

constexpr std::uint16_t kEnglish = 1033;
constexpr std::uint16_t kRussian = 1049;

struct TEntry {
  WideString word;
  WideString trans;
};

struct TSettings {
  std::uint16_t language = kEnglish;
  std::uint16_t trans_language = kRussian;
  bool scrambled = false;
  bool compressed = false;
};

inline void Compile(const std::string& path, const std::vector<TEntry>& entries,
                    const TSettings& settings = {}) {
  TVocabCompiler compiler;
  compiler.SetLanguage(settings.language);
  compiler.SetTransLanguage(settings.trans_language);
  compiler.SetScrambled(settings.scrambled);
  compiler.SetCompressed(settings.compressed);
  compiler.BeginCompile(path);
  for (const TEntry& e : entries) compiler.AddWord(e.word, e.trans);
  compiler.EndCompile();
}

inline std::vector<TEntry> Words(std::initializer_list<const char16_t*> words) {
  std::vector<TEntry> entries;
  for (const char16_t* w : words) entries.push_back({w, WideString(u"t:") + w});
  return entries;
}

// Sorts by CompareWords and drops words equal to their predecessor.
inline void SortUnique(std::vector<TEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
    return CompareWords(a.word, b.word) < 0;
  });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const TEntry& a, const TEntry& b) {
                              return CompareWords(a.word, b.word) == 0;
                            }),
                entries.end());
}

// Words of min_len..max_len characters of the English code page; long
// shared prefixes are frequent, so neighbours differ late. Translations
// mix Cyrillic and Latin text, spans, line breaks, empty and long
// (compressible) bodies.
inline std::vector<TEntry> RandomEntries(std::uint32_t seed, std::size_t count, std::size_t min_len,
                                         std::size_t max_len) {
  std::mt19937 random(seed);
  const WideString letters =
      u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\u00e9\u00fc\u00f1 '-";
  const WideString cyrillic =
      u"\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u043a\u043b\u043c\u043d\u043e\u043f";
  auto pick = [&](const WideString& from) { return from[random() % from.size()]; };
  std::vector<TEntry> entries;
  WideString previous;
  while (entries.size() < count * 11 / 10 + 1) {
    const std::size_t len = min_len + random() % (max_len - min_len + 1);
    WideString w;
    if (!previous.empty() && random() % 3 == 0)
      w = previous.substr(0, std::min<std::size_t>(len, random() % previous.size()));
    w.reserve(len);
    while (w.size() < len) w += pick(letters);
    // No leading blanks, so that words stay readable.
    if (w[0] == u' ' || w[0] == u'\'' || w[0] == u'-') w[0] = u'q';
    previous = w;
    WideString t;
    switch (random() % 5) {
      case 0:
        break;  // empty translation
      case 1:
        for (int k = 0; k < 40; ++k) t += u"\u0434\u043e\u043c house ";
        break;
      default: {
        const std::size_t tl = 1 + random() % 60;
        for (std::size_t k = 0; k < tl; ++k) t += k % 7 == 3 ? u'\r' : pick(cyrillic + u"xyz ");
        // Appended piece by piece: GCC 12 at -O3 misreads the chain of
        // operator+ as an overlapping copy (-Wrestrict).
        WideString marked(1, u'\x05');
        marked += w[0];
        marked += u"\x05 ";
        marked += t;
        t = std::move(marked);
      }
    }
    entries.push_back({w, t});
  }
  SortUnique(entries);
  std::shuffle(entries.begin(), entries.end(), random);
  entries.resize(std::min(count, entries.size()));
  SortUnique(entries);
  return entries;
}

// 100 words of about 1000 bytes: 13 leaf pages under two index layers,
// three granules.
inline std::vector<TEntry> LongEntries() {
  std::vector<TEntry> entries;
  for (int i = 0; i < 100; ++i) {
    std::string digits = std::to_string(10000 + i);
    digits[0] = 'w';  // w0000 ... w0099
    const WideString prefix(digits.begin(), digits.end());
    WideString word = prefix;
    word.append(995, u'x');
    WideString trans = u"translation ";
    trans += prefix;
    entries.push_back({word, trans});
  }
  return entries;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return dic::LoadU32(b.data() + at);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  dic::StoreU32(b.data() + at, v);
}

// One item of a plain (unscrambled) item page, parsed without TPageMan.
struct TRawItem {
  std::uint32_t first = 0;  // record number (index) or body offset (leaf)
  std::uint32_t child = 0;  // index items only
  std::string key;
};

inline std::vector<TRawItem> RawItems(const std::vector<std::uint8_t>& b, std::size_t page_at,
                                      std::uint32_t p, bool index) {
  const auto u16 = [&](std::size_t at) { return unsigned{b[at]} | (unsigned{b[at + 1]} << 8); };
  std::vector<TRawItem> items;
  const unsigned n = u16(page_at);
  std::size_t end = p;
  for (unsigned i = 0; i < n; ++i) {
    const std::size_t at = u16(page_at + 2 + 2 * i);
    TRawItem item;
    item.first = Get32(b, page_at + at);
    const std::size_t key_at = index ? 8 : 4;
    if (index) item.child = Get32(b, page_at + at + 4);
    item.key.assign(reinterpret_cast<const char*>(b.data() + page_at + at + key_at),
                    end - at - key_at);
    items.push_back(item);
    end = at;
  }
  return items;
}

// Checks, on the bytes of an unscrambled file, that every index item names
// its child page's first key and first record number, that the root layer
// is one page, and that the leaf items hold exactly `words` in order.
inline void VerifyLayout(const std::vector<std::uint8_t>& b,
                         const std::vector<std::string>& words) {
  const std::uint32_t p = Get32(b, dic::kPageSizeAt);
  const std::uint32_t layers = Get32(b, dic::kLayerCountAt);
  const std::uint32_t leaf = Get32(b, dic::kLeafOffsetAt);
  const std::uint32_t body = Get32(b, dic::kBodyStartAt);
  ASSERT_EQ(Get32(b, dic::kRecordCountAt), words.size());
  ASSERT_EQ(b.size(), Get32(b, dic::kParamsOffsetAt) + std::size_t{p});
  // Leaf pages: words, and the first record of each page.
  std::vector<std::uint32_t> leaf_first;
  std::vector<std::string> leaf_first_key;
  std::size_t record = 0;
  for (std::uint32_t at = leaf; at < body; at += p) {
    const auto items = RawItems(b, at, p, false);
    ASSERT_FALSE(items.empty());
    leaf_first.push_back(static_cast<std::uint32_t>(record));
    leaf_first_key.push_back(items[0].key);
    for (const auto& item : items) {
      ASSERT_LT(record, words.size());
      ASSERT_EQ(item.key, words[record]) << "record " << record;
      ++record;
    }
  }
  ASSERT_EQ(record, words.size());
  // Index layers, bottom up: each item describes one page of the layer below.
  std::vector<std::uint32_t> below_first = leaf_first;
  std::vector<std::string> below_key = leaf_first_key;
  std::uint32_t layer_end = leaf;
  for (std::uint32_t i = 0; i < layers; ++i) {
    const std::uint32_t start = Get32(b, dic::kLayerOffsetsAt + 4 * i);
    std::vector<std::uint32_t> first;
    std::vector<std::string> keys;
    std::size_t expected_child = 0;
    for (std::uint32_t at = start; at < layer_end; at += p) {
      const auto items = RawItems(b, at, p, true);
      ASSERT_FALSE(items.empty());
      first.push_back(items[0].first);
      keys.push_back(items[0].key);
      for (const auto& item : items) {
        ASSERT_EQ(item.child, expected_child) << "layer " << i;
        ASSERT_LT(item.child, below_first.size());
        EXPECT_EQ(item.first, below_first[item.child]) << "layer " << i << " child " << item.child;
        EXPECT_EQ(item.key, below_key[item.child]) << "layer " << i << " child " << item.child;
        ++expected_child;
      }
    }
    ASSERT_EQ(expected_child, below_first.size()) << "layer " << i << " misses children";
    if (i + 1 == layers) {
      EXPECT_EQ(layer_end - start, p) << "the root layer is one page";
    }
    below_first = first;
    below_key = keys;
    layer_end = start;
  }
  if (layers > 0) {
    EXPECT_EQ(Get32(b, dic::kLayerOffsetsAt + 4 * (layers - 1)), p);
  }
}

// The words as the file stores them (code page of the language).
inline std::vector<std::string> StoredWords(const std::vector<TEntry>& entries,
                                            std::uint16_t language = kEnglish) {
  std::vector<std::string> words;
  for (const auto& e : entries) {
    std::string bytes;
    WideToAnsi(language, e.word, bytes);
    words.push_back(bytes);
  }
  return words;
}

}  // namespace vandrel::test
