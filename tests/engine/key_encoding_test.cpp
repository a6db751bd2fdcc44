// Index keys: sortable forms order values numerically, null and descending
// fields, case-insensitive keys, and the locale order of string keys, which
// must equal CompareWords of the converted text in every single-byte code
// page (the word-update merge relies on it).
#include "engine/key_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "engine/key_collation.h"
#include "engine/record.h"
#include "engine/record_codec.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

std::vector<TFieldDesc> Fields(std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> types) {
  std::vector<TFieldDesc> f;
  for (const auto& [type, size] : types) {
    TFieldDesc d;
    d.name = "F" + std::to_string(f.size() + 1);
    d.type = type;
    d.size = size;
    f.push_back(d);
  }
  LayOutRecord(f);
  return f;
}

// The key of a one-field record holding value (stored form) or null.
std::vector<std::uint8_t> Key(const TKeyLayout& k, const std::vector<TFieldDesc>& f,
                              const void* value, std::size_t n, std::int32_t autoinc = 0) {
  std::vector<std::uint8_t> rec(128, 0);
  if (value != nullptr)
    field::SetBytes(rec.data(), f[0], static_cast<const std::uint8_t*>(value), n);
  StoreI32(rec.data() + 5, autoinc);
  std::vector<std::uint8_t> key(k.key_length());
  k.BuildKey(rec.data(), key.data());
  return key;
}

TEST(KeyEncoding, NumbersSortByValueNullsFirst) {
  for (const std::uint8_t type : {kTypeInteger, kTypeDate, kTypeTime}) {
    const auto f = Fields({{type, 0}});
    const TKeyLayout k = TKeyLayout::ForIndex(f, {1}, {}, true, false, false, 0);
    ASSERT_EQ(k.key_length(), 5u) << "a unique one-field 32-bit key";
    std::vector<std::vector<std::uint8_t>> keys = {Key(k, f, nullptr, 0)};
    for (const std::int32_t v : {INT32_MIN, -70000, -1, 0, 1, 255, 256, INT32_MAX}) {
      std::uint8_t b[4];
      StoreI32(b, v);
      keys.push_back(Key(k, f, b, 4));
    }
    for (std::size_t i = 1; i < keys.size(); ++i) {
      EXPECT_LT(k.Compare(keys[i - 1].data(), keys[i].data(), 5), 0) << int(type) << " " << i;
    }
  }
  const auto d = Fields({{kTypeFloat, 0}});
  const TKeyLayout k = TKeyLayout::ForIndex(d, {1}, {}, true, false, false, 0x0409);
  std::vector<std::vector<std::uint8_t>> keys;
  for (const double v : {-1e300, -2.5, -0.5, -0.0, 0.25, 1.0, 3e200}) {
    std::uint8_t b[8];
    StoreDouble(b, v);
    keys.push_back(Key(k, d, b, 8));
  }
  for (std::size_t i = 1; i < keys.size(); ++i) {
    EXPECT_LE(k.Compare(keys[i - 1].data(), keys[i].data(), 9), 0) << i;
  }
  EXPECT_LT(k.Compare(keys[2].data(), keys[4].data(), 9), 0) << "-0.5 before 0.25";
  const auto s = Fields({{kTypeSmallInt, 0}});
  const TKeyLayout ks = TKeyLayout::ForIndex(s, {1}, {}, false, false, false, 0);
  EXPECT_EQ(ks.key_length(), 7u) << "a non-unique key carries the 4-byte suffix";
  std::uint8_t m1[2], p1[2];
  StoreU16(m1, 0xFFFF);
  StoreU16(p1, 1);
  const auto a = Key(ks, s, m1, 2, 7), b = Key(ks, s, p1, 2, 3);
  EXPECT_LT(ks.Compare(a.data(), b.data(), 7), 0);
}

TEST(KeyEncoding, DescendingFieldsInvertWithoutLocaleAndNegateWithOne) {
  const auto f = Fields({{kTypeInteger, 0}, {kTypeString, 10}});
  for (const std::uint32_t lcid : {0u, 0x0409u}) {
    const TKeyLayout k = TKeyLayout::ForIndex(f, {1, 2}, {true, false}, true, false, false, lcid);
    std::vector<std::uint8_t> r1(64, 0), r2(64, 0);
    field::SetInt32(r1.data(), f[0], 1);
    field::SetInt32(r2.data(), f[0], 2);
    field::SetString(r1.data(), f[1], "b");
    field::SetString(r2.data(), f[1], "a");
    std::vector<std::uint8_t> k1(k.key_length()), k2(k.key_length());
    k.BuildKey(r1.data(), k1.data());
    k.BuildKey(r2.data(), k2.data());
    EXPECT_GT(k.Compare(k1.data(), k2.data(), k.key_length()), 0) << "2 before 1, lcid " << lcid;
    field::SetInt32(r2.data(), f[0], 1);
    k.BuildKey(r2.data(), k2.data());
    EXPECT_GT(k.Compare(k1.data(), k2.data(), k.key_length()), 0) << "then a before b";
  }
  // A descending index negates the whole order.
  const TKeyLayout down = TKeyLayout::ForIndex(f, {2}, {true}, true, true, false, 0x0409);
  std::vector<std::uint8_t> r1(64, 0), r2(64, 0), k1(down.key_length()), k2(down.key_length());
  field::SetString(r1.data(), f[1], "apple");
  field::SetString(r2.data(), f[1], "Banana");
  down.BuildKey(r1.data(), k1.data());
  down.BuildKey(r2.data(), k2.data());
  EXPECT_GT(down.Compare(k1.data(), k2.data(), down.key_length()), 0);
}

TEST(KeyEncoding, CaseInsensitiveKeysAreUpperCasedByTheLocale) {
  const auto f = Fields({{kTypeString, 20}});
  const TKeyLayout k = TKeyLayout::ForIndex(f, {1}, {}, true, false, true, 0x0419);
  std::vector<std::uint8_t> r(64, 0), key(k.key_length());
  field::SetString(r.data(), f[0], "\xEF\xF0\xE8\xE2\xE5\xF2");  // "привет" in 1251
  k.BuildKey(r.data(), key.data());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data() + 1)), "\xCF\xD0\xC8\xC2\xC5\xD2");
}

TEST(KeyEncoding, SystemKeyIsStatusThenSortableAutoIncrement) {
  const TKeyLayout k = TKeyLayout::System();
  std::vector<std::uint8_t> r(16, 0), key(5);
  r[0] = 1;
  StoreI32(r.data() + 5, -1);
  k.BuildKey(r.data(), key.data());
  EXPECT_EQ(key, (std::vector<std::uint8_t>{1, 0x7F, 0xFF, 0xFF, 0xFF}));
}

// One locale of each single-byte code page.
const std::uint16_t kLocales[] = {
    0x041E /*874*/,  0x0405 /*1250*/, 0x0419 /*1251*/, 0x0409 /*1252*/, 0x0408 /*1253*/,
    0x041F /*1254*/, 0x040D /*1255*/, 0x0401 /*1256*/, 0x0425 /*1257*/, 0x042A /*1258*/};

TEST(KeyCollation, EqualsCompareWordsInEverySingleByteCodePage) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> len(0, 6);
  std::uniform_int_distribution<int> byte(1, 255);
  for (const std::uint16_t lang : kLocales) {
    const TKeyCollation& c = TKeyCollation::ForLocale(lang);
    for (int i = 0; i < 20000; ++i) {
      std::string a(len(rng), ' '), b(len(rng), ' ');
      for (char& ch : a) ch = static_cast<char>(byte(rng));
      for (char& ch : b) ch = static_cast<char>(byte(rng));
      if (i % 3 == 0 && !a.empty()) b = a.substr(0, a.size() - 1) + b;  // shared prefixes
      const int got = c.Compare(reinterpret_cast<const std::uint8_t*>(a.data()), a.size(),
                                reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
      const int words = Sign(CompareWords(AnsiToWide(lang, a), AnsiToWide(lang, b)));
      const int os =
          win::CompareStringA(lang, win::NORM_IGNORENONSPACE, a.data(), static_cast<int>(a.size()),
                              b.data(), static_cast<int>(b.size())) -
          2;
      ASSERT_EQ(got, words) << std::hex << lang << " \"" << a << "\" \"" << b << "\"";
      ASSERT_EQ(got, os) << std::hex << lang;
    }
  }
}

TEST(KeyCollation, DoubleBytePagesUseTheLocaleComparison) {
  const TKeyCollation& c = TKeyCollation::ForLocale(0x0411);
  const std::string a = "\x82\xa0", b = "\x82\xa2";  // two kana
  const int os =
      win::CompareStringA(0x0411, win::NORM_IGNORENONSPACE, a.data(), 2, b.data(), 2) - 2;
  EXPECT_EQ(c.Compare(reinterpret_cast<const std::uint8_t*>(a.data()), 2,
                      reinterpret_cast<const std::uint8_t*>(b.data()), 2),
            os);
}

}  // namespace
}  // namespace vandrel::engine
