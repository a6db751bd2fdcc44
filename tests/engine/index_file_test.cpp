// The index file's B+trees: random inserts and deletes against a model,
// checked after every batch (order, subtree counts, neighbour links, first
// keys, the system index and every record's keys); root splits and
// collapses; lower-bound searches; key positions; every compression mode,
// descending and case-insensitive indexes; reopen round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/record_codec.h"
#include "tests/engine/table_files_fixture.h"

namespace vandrel::engine::test {
namespace {

TIndexDesc Primary(std::vector<std::uint16_t> fields) {
  TIndexDesc d;
  d.fields = std::move(fields);
  return d;
}

std::string RandomWord(std::mt19937& rng, std::size_t max_len = 50) {
  static const char letters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\xE9\xE8\xFC\xF6";
  std::uniform_int_distribution<std::size_t> len(1, max_len);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
  std::string w(len(rng), ' ');
  for (char& c : w) c = letters[pick(rng)];
  return w;
}

// Words in the update table: the model maps each stored word to its
// record; words equal under the locale comparison count once.
class UpdateTreeTest : public TableFilesTest {
 protected:
  void SetUp() override {
    t_ = std::make_unique<TableFiles>(Base());
    t_->Create(UpdateTableParams(), Primary({1}));
  }
  void TearDown() override {
    t_.reset();  // the files close before their container
    TableFilesTest::TearDown();
  }

  std::vector<std::uint8_t> KeyOf(const std::string& word) {
    std::vector<std::uint8_t> rec(t_->data.record_size());
    field::SetString(rec.data(), t_->data.fields()[0], word);
    return t_->index.BuildKey(0, rec.data());
  }

  void ExpectConsistent() {
    const TTableReport r = t_->Check();
    ASSERT_TRUE(r.Clean()) << Lines(r);
    ASSERT_EQ(t_->index.KeyCount(0), model_.size());
    // Walk order, exact finds, key positions and positions by count.
    std::uint64_t n = 0;
    for (TIndexPos p = t_->index.First(0); p.valid(); t_->index.Next(0, p), ++n) {
      const std::uint32_t rec = t_->index.RecordAt(0, p);
      ASSERT_TRUE(model_.contains(rec));
      if (n % 97 == 0) {
        const auto key = KeyOf(model_[rec]);
        const TIndexPos f = t_->index.Find(0, key.data(), key.size());
        ASSERT_EQ(t_->index.RecordAt(0, f), rec);
        ASSERT_EQ(t_->index.KeyPosition(0, key.data(), rec), n);
        const TIndexPos c = t_->index.PositionByCount(0, n);
        ASSERT_EQ(t_->index.RecordAt(0, c), rec);
      }
    }
    ASSERT_EQ(n, model_.size());
  }

  std::unique_ptr<TableFiles> t_;
  std::map<std::uint32_t, std::string> model_;  // record -> word
};

TEST_F(UpdateTreeTest, RandomInsertsThenDeletesStayConsistent) {
  std::mt19937 rng(13);
  const std::vector<std::size_t> totals = {1, 10, 71, 500, 5000, 30000};
  for (const std::size_t total : totals) {
    while (model_.size() < total) {
      const std::string w = RandomWord(rng, 12);
      std::vector<std::uint8_t> rec(t_->data.record_size());
      field::SetString(rec.data(), t_->data.fields()[0], w);
      const std::uint32_t n = t_->InsertRecord(rec);
      if (n != 0) model_[n] = w;
    }
    ExpectConsistent();
  }
  // Reopen and keep deleting at random down to empty.
  t_->Close();
  t_ = std::make_unique<TableFiles>(Base());
  t_->Open();
  ExpectConsistent();
  std::vector<std::uint32_t> order;
  for (const auto& [n, w] : model_) order.push_back(n);
  std::shuffle(order.begin(), order.end(), rng);
  std::size_t done = 0;
  for (const std::size_t left : {20000u, 5000u, 500u, 70u, 3u, 0u}) {
    while (model_.size() > left) {
      const std::uint32_t n = order[done++];
      t_->DeleteRecord(n);
      model_.erase(n);
    }
    ExpectConsistent();
  }
  EXPECT_EQ(t_->index.desc(0).root, 0u) << "an empty index has no root";
  // Freed pages are reused before the file grows.
  const std::uint32_t eof = t_->index.header().end_of_file;
  std::vector<std::uint8_t> rec(t_->data.record_size());
  for (int i = 0; i < 200; ++i) {
    field::SetString(rec.data(), t_->data.fields()[0], "again" + std::to_string(i));
    const std::uint32_t n = t_->InsertRecord(rec);
    ASSERT_NE(n, 0u);
    model_[n] = "again" + std::to_string(i);
  }
  EXPECT_EQ(t_->index.header().end_of_file, eof);
  EXPECT_EQ(t_->data.record_count(), 30000u) << "deleted records were reused";
  ExpectConsistent();
}

TEST_F(UpdateTreeTest, FullRootLeafSplitsIntoTwoLinkedLeaves) {
  std::vector<std::uint8_t> rec(t_->data.record_size());
  for (int i = 0; i < 70; ++i) {
    char w[8];
    std::snprintf(w, sizeof w, "w%03d", i);
    field::SetString(rec.data(), t_->data.fields()[0], w);
    ASSERT_NE(t_->InsertRecord(rec), 0u);
  }
  const std::uint32_t root = t_->index.desc(0).root;
  EXPECT_EQ(t_->index.ReadPage(0, root).type, kPageRootLeaf) << "70 keys fit one leaf";
  field::SetString(rec.data(), t_->data.fields()[0], "w070");
  ASSERT_NE(t_->InsertRecord(rec), 0u);
  const TPage& r = t_->index.ReadPage(0, t_->index.desc(0).root);
  ASSERT_EQ(r.type, kPageRoot);
  ASSERT_EQ(r.count(), 2u);
  EXPECT_EQ(r.Count(0), 36u);
  EXPECT_EQ(r.Count(1), 35u);
  const std::uint32_t left = r.Value(0), right = r.Value(1);
  const TPage& lp = t_->index.ReadPage(0, left);
  const TPage& rp = t_->index.ReadPage(0, right);
  EXPECT_EQ(lp.type, kPageLeaf);
  EXPECT_EQ(rp.type, kPageLeaf);
  EXPECT_EQ(lp.next, right);
  EXPECT_EQ(rp.prev, left);
  EXPECT_EQ(lp.prev, 0u);
  EXPECT_EQ(rp.next, 0u);
  const TTableReport rep = t_->Check();
  EXPECT_TRUE(rep.Clean()) << Lines(rep);
}

TEST_F(UpdateTreeTest, FindIsALowerBoundAcrossLeaves) {
  std::vector<std::uint8_t> rec(t_->data.record_size());
  std::vector<std::string> words;
  for (int i = 0; i < 300; i += 2) {
    char w[8];
    std::snprintf(w, sizeof w, "k%04d", i);
    words.push_back(w);
    field::SetString(rec.data(), t_->data.fields()[0], w);
    ASSERT_NE(t_->InsertRecord(rec), 0u);
  }
  auto word_at = [&](const TIndexPos& p) {
    TPinnedRecord r = t_->data.GetRecord(t_->index.RecordAt(0, p));
    return field::GetString(r->data(), t_->data.fields()[0]);
  };
  for (int i = 0; i < 300; ++i) {
    char w[8];
    std::snprintf(w, sizeof w, "k%04d", i);
    const auto key = KeyOf(w);
    const TIndexPos p = t_->index.Find(0, key.data(), key.size());
    if (i == 299) {
      EXPECT_FALSE(p.valid());
      continue;
    }
    ASSERT_TRUE(p.valid()) << w;
    char want[8];
    std::snprintf(want, sizeof want, "k%04d", i % 2 == 0 ? i : i + 1);
    EXPECT_EQ(word_at(p), want);
  }
  // A partial key (the indicator and "k01") finds the first word it starts.
  const auto key = KeyOf("k01");
  const TIndexPos p = t_->index.Find(0, key.data(), 4);
  ASSERT_TRUE(p.valid());
  EXPECT_EQ(word_at(p), "k0100");
  // Prior walks back across leaves.
  TIndexPos last = t_->index.Last(0);
  std::size_t n = 1;
  while (t_->index.Prior(0, last)) ++n;
  EXPECT_EQ(n, words.size());
}

// A table of every key-able kind: Id INTEGER (primary), Name CHAR(20),
// Score FLOAT, Flag BOOLEAN, Small SMALLINT, a BLOB.
class IndexKindsTest : public TableFilesTest,
                       public ::testing::WithParamInterface<std::tuple<int, bool>> {
 protected:
  static TDataCreateParams Params(bool locale) {
    TDataCreateParams p;
    p.locale = locale ? 0x0409 : 0;
    auto add = [&](const char* name, std::uint8_t type, std::uint8_t size) {
      TFieldDesc f;
      f.name = name;
      f.type = type;
      f.size = size;
      p.fields.push_back(f);
    };
    add("Id", kTypeInteger, 0);
    add("Name", kTypeString, 20);
    add("Score", kTypeFloat, 0);
    add("Flag", kTypeBoolean, 0);
    add("Small", kTypeSmallInt, 0);
    add("Memo", kTypeBlob, 0);
    LayOutRecord(p.fields);
    return p;
  }
};

TEST_P(IndexKindsTest, SecondaryIndexesOfEveryCompressionStayConsistent) {
  const auto [compression, locale] = GetParam();
  TableFiles t(Base());
  t.Create(Params(locale), Primary({1}));
  TIndexDesc by_name;
  by_name.name = "ByName";
  by_name.fields = {2, 5};
  by_name.compression = static_cast<std::uint8_t>(compression);
  TIndexDesc by_score;
  by_score.name = "ByScore";
  by_score.fields = {3};
  by_score.descending = true;
  by_score.compression = static_cast<std::uint8_t>(compression);
  TIndexDesc nocase;
  nocase.name = "NoCase";
  nocase.fields = {2};
  nocase.case_insensitive = true;
  nocase.field_descending = {false};
  nocase.compression = static_cast<std::uint8_t>(compression);
  TIndexDesc mixed;
  mixed.name = "_Mixed";
  mixed.fields = {4, 1};
  mixed.field_descending = {true, false};
  mixed.unique = true;
  mixed.compression = static_cast<std::uint8_t>(compression);
  ASSERT_EQ(t.index.AddSecondaryIndex(by_name), 1u);
  ASSERT_EQ(t.index.AddSecondaryIndex(by_score), 2u);
  ASSERT_EQ(t.index.AddSecondaryIndex(nocase), 3u);
  ASSERT_EQ(t.index.AddSecondaryIndex(mixed), 4u);
  const auto& f = t.data.fields();
  std::mt19937 rng(static_cast<unsigned>(compression * 2 + locale));
  std::map<std::uint32_t, std::int32_t> model;  // record -> id
  std::uniform_int_distribution<int> small(-3, 3);
  std::uniform_real_distribution<double> score(-100, 100);
  auto insert = [&](std::int32_t id) {
    std::vector<std::uint8_t> rec(t.data.record_size());
    field::SetInt32(rec.data(), f[0], id);
    // Few distinct names with long shared prefixes and trailing space:
    // what the compressions work on.
    field::SetString(rec.data(), f[1],
                     "name" + std::string(rng() % 3, 'x') + std::to_string(rng() % 20));
    if (rng() % 5 != 0) field::SetDouble(rec.data(), f[2], score(rng));
    std::uint8_t b[2] = {static_cast<std::uint8_t>(rng() % 2), 0};
    field::SetBytes(rec.data(), f[3], b, 2);
    std::uint8_t s[2];
    StoreU16(s, static_cast<std::uint16_t>(small(rng)));
    field::SetBytes(rec.data(), f[4], s, 2);
    const std::uint32_t n = t.InsertRecord(rec);
    if (n != 0) model[n] = id;
  };
  for (std::size_t total : {50u, 800u, 4000u}) {
    while (model.size() < total) insert(static_cast<std::int32_t>(rng() % 100000) - 50000);
    const TTableReport r = t.Check();
    ASSERT_TRUE(r.Clean()) << Lines(r);
    for (std::size_t s = 0; s <= 4; ++s) ASSERT_EQ(t.index.KeyCount(s), model.size()) << s;
  }
  // Primary order is numeric: -1 < 0 < 1 in a 32-bit key.
  std::int32_t prev = INT32_MIN;
  for (TIndexPos p = t.index.First(0); p.valid(); t.index.Next(0, p)) {
    const std::int32_t id = model.at(t.index.RecordAt(0, p));
    ASSERT_LT(prev, id);
    prev = id;
  }
  // The descending index walks scores from high to low, nulls last.
  double last = 1e9;
  bool nulls = false;
  for (TIndexPos p = t.index.First(2); p.valid(); t.index.Next(2, p)) {
    TPinnedRecord r = t.data.GetRecord(t.index.RecordAt(2, p));
    if (field::IsNull(r->data(), f[2])) {
      nulls = true;
      continue;
    }
    ASSERT_FALSE(nulls) << "a value after a null in a descending index";
    const double v = LoadDouble(r->data() + f[2].offset + 1);
    ASSERT_LE(v, last);
    last = v;
  }
  // Delete most at random, reopen, delete the rest.
  std::vector<std::uint32_t> order;
  for (const auto& [n, id] : model) order.push_back(n);
  std::shuffle(order.begin(), order.end(), rng);
  for (std::size_t i = 0; i < order.size() - 100; ++i) {
    t.DeleteRecord(order[i]);
    model.erase(order[i]);
  }
  TTableReport r = t.Check();
  ASSERT_TRUE(r.Clean()) << Lines(r);
  t.Close();
  TableFiles u(Base());
  u.Open();
  for (std::size_t i = order.size() - 100; i < order.size(); ++i) u.DeleteRecord(order[i]);
  r = u.Check();
  ASSERT_TRUE(r.Clean()) << Lines(r);
  for (std::size_t s = 0; s <= 4; ++s) EXPECT_EQ(u.index.KeyCount(s), 0u);
  EXPECT_EQ(u.index.KeyCount(kSystemSlot), 4000u) << "deleted records stay in the system index";
}

INSTANTIATE_TEST_SUITE_P(Compressions, IndexKindsTest,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3), ::testing::Bool()));

TEST_F(TableFilesTest, IndexDefinitionsAreRefusedWithTheirCodes) {
  TableFiles t(Base());
  t.Create(UpdateTableParams(), Primary({1}));
  auto code = [&](auto&& f) {
    try {
      f();
    } catch (const EEngineError& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(code([&] { t.index.AddPrimaryIndex(Primary({1})); }), kPrimaryIndexExists);
  TIndexDesc d;
  d.fields = {1};
  EXPECT_EQ(code([&] { t.index.AddSecondaryIndex(d); }), kSecondaryIndexNameMissing);
  d.name = "1st";
  EXPECT_EQ(code([&] { t.index.AddSecondaryIndex(d); }), kInvalidSecondaryIndexName);
  d.name = "Blob";
  d.fields = {2};
  EXPECT_EQ(code([&] { t.index.AddSecondaryIndex(d); }), kInvalidIndexFieldType);
  d.fields = {1};
  for (int i = 0; i < 30; ++i) {
    d.name = "ix" + std::to_string(i);
    ASSERT_EQ(code([&] { t.index.AddSecondaryIndex(d); }), 0);
  }
  d.name = "ix0";
  EXPECT_EQ(code([&] { t.index.AddSecondaryIndex(d); }), kIndexLimits) << "a 31st index";
  // Deleting one moves the later ones down; the removed one waits in the
  // freed slot, which the check does not count as damage.
  std::vector<std::uint8_t> rec(t.data.record_size());
  field::SetString(rec.data(), t.data.fields()[0], "a");
  ASSERT_NE(t.InsertRecord(rec), 0u);
  t.index.DeleteSecondaryIndex(3);
  EXPECT_EQ(t.index.header().secondary_count, 29);
  EXPECT_EQ(t.index.desc(3).name, "ix3");
  EXPECT_EQ(t.index.desc(30).name, "ix2");
  const TTableReport r = t.Check();
  EXPECT_TRUE(r.Clean()) << Lines(r);
}

}  // namespace
}  // namespace vandrel::engine::test
