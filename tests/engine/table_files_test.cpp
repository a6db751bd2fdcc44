// Data, index and BLOB files together: the word-update table created,
// filled, closed and reopened, its stored bytes pinned, and the check of
// the three files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/container_check.h"
#include "engine/engine_error.h"
#include "engine/record_codec.h"
#include "tests/engine/table_files_fixture.h"

namespace vandrel::engine::test {
namespace {

TIndexDesc WordPrimary() {
  TIndexDesc d;
  d.fields = {1};
  return d;
}

std::vector<std::uint8_t> ReadAll(const std::string& name) {
  TFileHandler f;
  f.Open(name, TFileHandlerOptions{.read_only = true});
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(f.Size()));
  f.ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  f.Close();
  return bytes;
}

std::vector<std::string> WalkWords(TableFiles& t) {
  std::vector<std::string> words;
  for (TIndexPos p = t.index.First(0); p.valid(); t.index.Next(0, p)) {
    TPinnedRecord r = t.data.GetRecord(t.index.RecordAt(0, p));
    words.push_back(field::GetString(r->data(), t.data.fields()[0]));
  }
  return words;
}

TEST_F(TableFilesTest, UpdateTableRoundTripsThroughClose) {
  {
    TableFiles t(Base());
    t.Create(UpdateTableParams(), WordPrimary());
    EXPECT_EQ(t.data.record_size(), 70u);
    EXPECT_EQ(t.index.desc(0).key_length, 52);
    EXPECT_TRUE(t.InsertWord("house", std::string(111, 'h')));
    EXPECT_TRUE(t.InsertWord("Apple", "abc"));
    EXPECT_TRUE(t.InsertWord("zebra", ""));
    EXPECT_FALSE(t.InsertWord("h\xF3use", "other")) << "equal words: marks are ignored";
    EXPECT_TRUE(t.InsertWord("House", "other")) << "case tells words apart";
    const TTableReport r = t.Check();
    EXPECT_TRUE(r.Clean()) << Lines(r);
  }
  TableFiles t(Base());
  t.Open();
  EXPECT_EQ(t.data.record_count(), 4u);
  EXPECT_EQ(WalkWords(t), (std::vector<std::string>{"Apple", "House", "house", "zebra"}));
  EXPECT_EQ(t.Trans(1), std::string(111, 'h'));
  EXPECT_EQ(t.Trans(2), "abc");
  EXPECT_EQ(t.Trans(3), "");
  EXPECT_EQ(t.index.KeyCount(0), 4u);
  EXPECT_EQ(t.index.KeyCount(kSystemSlot), 4u);
}

// Expected bytes built field by field from the formats' tables.
struct Expect {
  std::vector<std::uint8_t> b;
  explicit Expect(std::size_t n) : b(n, 0) {}
  void U16(std::size_t at, std::uint32_t v) { StoreU16(&b[at], v); }
  void U32(std::size_t at, std::uint32_t v) { StoreU32(&b[at], v); }
  void Text(std::size_t at, const std::string& s) { std::memcpy(&b[at], s.data(), s.size()); }
  void Str(std::size_t at, const std::string& s) {  // length byte + text
    b[at] = static_cast<std::uint8_t>(s.size());
    Text(at + 1, s);
  }
};

TEST_F(TableFilesTest, UpdateTableFilesArePinnedAfterThreeInserts) {
  {
    TableFiles t(Base());
    t.Create(UpdateTableParams(), WordPrimary());
    ASSERT_TRUE(t.InsertWord("house", std::string(111, 'h')));
    ASSERT_TRUE(t.InsertWord("Apple", "abc"));
    ASSERT_TRUE(t.InsertWord("zebra", ""));
    t.Close();
  }
  // Data file: header, two descriptors, three records of 70 bytes.
  const auto dat = ReadAll(Base() + ".DAT");
  ASSERT_EQ(dat.size(), 127u + 2 * 768 + 3 * 70);
  Expect d(dat.size());
  d.U32(0, 2);                         // change count: written at create and at close
  d.U32(4, 128);                       // BLOB block size
  d.b[8] = 4;                          // version
  d.U32(9, 0);                         // no free record
  d.U32(13, 4);                        // next record number
  d.U32(17, 0);                        // last auto-increment
  d.U16(21, 70);                       // record size
  d.U16(23, 2);                        // fields
  d.U16(25, 1);                        // BLOB fields
  std::memcpy(&d.b[27], &dat[27], 8);  // last update: the clock's
  d.U16(103, 0x0409);
  d.U16(107, 1);  // user major version
  d.b[111] = 1;   // header changed, as in memory at writing
  d.U32(116, 20800);
  // Field 1: Word CHAR(50) at 9; field 2: Trans BLOB (subtype 22) at 61.
  std::size_t f = 127;
  d.U16(f + 0, 1);
  d.Str(f + 2, "Word");
  d.b[f + 84] = 1;
  d.b[f + 86] = 50;
  d.b[f + 88] = 51;
  d.U16(f + 90, 9);
  f += 768;
  d.U16(f + 0, 2);
  d.Str(f + 2, "Trans");
  d.b[f + 84] = 3;
  d.b[f + 85] = 22;
  d.b[f + 88] = 8;
  d.U16(f + 90, 61);
  const std::size_t rec = 127 + 2 * 768;
  const char* words[] = {"house", "Apple", "zebra"};
  const std::uint32_t blobs[] = {512, 512 + 2 * 128, 0};
  for (std::uint32_t n = 1; n <= 3; ++n) {
    const std::size_t r = rec + (n - 1) * 70;
    d.U32(r + 1, n);
    d.b[r + 9] = 1;
    d.Text(r + 10, words[n - 1]);
    if (blobs[n - 1] != 0) {
      d.b[r + 61] = 1;
      d.U32(r + 62, blobs[n - 1]);
    }
  }
  EXPECT_EQ(dat, d.b);
  double stamp;
  std::memcpy(&stamp, &dat[27], 8);
  EXPECT_LT(stamp, -600000.0) << "days from 1899-12-30 minus 693594 is negative";

  // Index file: header page, the primary root leaf, the system root leaf.
  const auto idx = ReadAll(Base() + ".IDX");
  ASSERT_EQ(idx.size(), 3u * 4096);
  Expect x(idx.size());
  x.U32(0, 2);
  x.b[8] = 4;
  x.U32(9, 3 * 4096);   // end of file
  std::size_t s0 = 14;  // primary: key length 52, unique, field 1, root 4096
  x.U16(s0 + 31, 52);
  x.b[s0 + 35] = 1;
  x.b[s0 + 37] = 1;
  x.U16(s0 + 54, 1);
  x.U32(s0 + 86, 4096);
  std::size_t s31 = 14 + 31 * 120;  // "Sys Deleted", key length 5, root 8192
  x.Str(s31, "Sys Deleted");
  x.U16(s31 + 31, 5);
  x.U32(s31 + 86, 8192);
  x.b[3979] = 1;
  // Primary leaf: Apple (2), house (1), zebra (3); key = 1, text zero-filled.
  std::size_t p = 4096;
  x.b[p] = 3;
  x.U16(p + 1, 3);
  x.U16(p + 11, 3 * 56);
  const char* sorted[] = {"Apple", "house", "zebra"};
  const std::uint32_t recs[] = {2, 1, 3};
  for (int i = 0; i < 3; ++i) {
    const std::size_t e = p + 13 + i * 56;
    x.b[e] = 1;
    x.Text(e + 1, sorted[i]);
    x.U32(e + 52, recs[i]);
  }
  // System leaf: status 0 + auto-increment 0 in sortable form, records 1-3.
  p = 8192;
  x.b[p] = 3;
  x.U16(p + 1, 3);
  x.U16(p + 11, 3 * 9);
  for (int i = 0; i < 3; ++i) {
    const std::size_t e = p + 13 + i * 9;
    x.b[e + 1] = 0x80;
    x.U32(e + 5, static_cast<std::uint32_t>(i + 1));
  }
  EXPECT_EQ(idx, x.b);

  // BLOB file: header, the 111-byte value in two blocks, "abc" in one.
  const auto blb = ReadAll(Base() + ".BLB");
  ASSERT_EQ(blb.size(), 512u + 3 * 128);
  Expect y(blb.size());
  y.U32(0, 2);
  y.b[8] = 4;
  y.U32(13, 512 + 3 * 128);
  y.b[17] = 1;
  std::size_t k = 512;  // block 1: next 640, 110 bytes, owner 1, length 111
  y.U32(k + 4, 640);
  y.U16(k + 8, 110);
  y.U32(k + 10, 1);
  y.U32(k + 14, 111);
  y.Text(k + 18, std::string(110, 'h'));
  k = 640;  // block 2: prev 512, 1 byte, owner 1
  y.U32(k + 0, 512);
  y.U16(k + 8, 1);
  y.U32(k + 10, 1);
  y.Text(k + 18, "h");
  k = 768;  // block 3: "abc", owner 2
  y.U16(k + 8, 3);
  y.U32(k + 10, 2);
  y.U32(k + 14, 3);
  y.Text(k + 18, "abc");
  EXPECT_EQ(blb, y.b);

  const TTableReport r = CheckTableBytes(dat, &idx, &blb);
  EXPECT_TRUE(r.Clean()) << Lines(r);
}

}  // namespace
}  // namespace vandrel::engine::test

namespace vandrel::engine::test {
namespace {

bool Finds(const TTableReport& r, const std::string& text) {
  for (const auto& l : r.Lines()) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST_F(TableFilesTest, CheckNamesOneDamagedByteOfEachFile) {
  {
    TableFiles t(Base());
    TIndexDesc primary;
    primary.fields = {1};
    t.Create(UpdateTableParams(), primary);
    ASSERT_TRUE(t.InsertWord("house", std::string(111, 'h')));
    ASSERT_TRUE(t.InsertWord("Apple", "abc"));
    ASSERT_TRUE(t.InsertWord("zebra", ""));
  }
  const auto dat = ReadAll(Base() + ".DAT");
  const auto idx = ReadAll(Base() + ".IDX");
  const auto blb = ReadAll(Base() + ".BLB");
  ASSERT_TRUE(CheckTableBytes(dat, &idx, &blb).Clean());
  auto damaged = [&](std::vector<std::uint8_t> d, std::vector<std::uint8_t> x,
                     std::vector<std::uint8_t> b) { return CheckTableBytes(d, &x, &b); };
  const std::size_t rec1 = 127 + 2 * 768;
  auto d = dat;
  d[rec1 + 10] = 'm';  // "house" -> "mouse": the key no longer matches
  EXPECT_TRUE(Finds(damaged(d, idx, blb), "index slot 0: key of record 1 differs"))
      << Lines(damaged(d, idx, blb));
  d = dat;
  d[rec1 + 70] = 1;  // record 2 deleted but on no free chain
  EXPECT_TRUE(Finds(damaged(d, idx, blb), "deleted record 2 is not on the free chain"));
  auto x = idx;
  x[4096 + 13 + 56 + 52] = 3;  // the second primary entry names record 3 twice
  EXPECT_TRUE(Finds(damaged(dat, x, blb), "record 3 listed twice"));
  x = idx;
  x[4096 + 11] = 0;  // bytes used 0 with three entries
  EXPECT_TRUE(Finds(damaged(dat, x, blb), "do not decode"));
  auto b = blb;
  b[512 + 4] = 0;  // the 111-byte value's chain cut after one block
  EXPECT_TRUE(Finds(damaged(dat, idx, b), "block 640 belongs to no value"));
  b = blb;
  b[768 + 10] = 1;  // "abc" now owned by record 1
  EXPECT_TRUE(Finds(damaged(dat, idx, b), "record 2 field 2: first block has a wrong owner"));
  // The container check lists the table.
  TBaseList::Global().CloseAll();
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(dir_.path() + "/c.vbas", &bytes));
  bool clean = false;
  const auto lines = CheckContainerTables(bytes.data(), bytes.size(), &clean);
  EXPECT_TRUE(clean);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "DATA: 3 records, 3 active, clean");
}

}  // namespace
}  // namespace vandrel::engine::test
