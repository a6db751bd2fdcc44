// The data file: create refusals, record sizes, the free-record chain and
// its reuse order, auto-increment wrap, open checks on damaged headers and
// descriptors, and an encrypted table round trip.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/record_codec.h"
#include "tests/engine/table_files_fixture.h"

namespace vandrel::engine::test {
namespace {

int Code(const std::function<void()>& f) {
  try {
    f();
  } catch (const EEngineError& e) {
    return e.Code();
  }
  return 0;
}

TDataCreateParams OneField(std::uint8_t type, std::uint8_t size, std::uint8_t subtype = 0) {
  TDataCreateParams p;
  TFieldDesc f;
  f.name = "F";
  f.type = type;
  f.size = size;
  f.subtype = subtype;
  p.fields = {f};
  LayOutRecord(p.fields);
  return p;
}

TEST_F(TableFilesTest, CreateRefusesBadDefinitions) {
  TDataFile d("T");
  TDataCreateParams none;
  EXPECT_EQ(Code([&] { d.CreateTable(Base("A") + ".DAT", none); }), kFieldLimits);
  TDataCreateParams blobs;
  for (int i = 0; i < 65; ++i) {
    TFieldDesc f;
    f.name = "B" + std::to_string(i);
    f.type = kTypeBlob;
    blobs.fields.push_back(f);
  }
  LayOutRecord(blobs.fields);
  EXPECT_EQ(Code([&] { d.CreateTable(Base("B") + ".DAT", blobs); }), kBlobFieldsOrBlockSize);
  for (const std::uint32_t bs : {1u, 18u, 65536u}) {
    auto p = UpdateTableParams();
    p.blob_block_size = bs;
    EXPECT_EQ(Code([&] { d.CreateTable(Base("C") + ".DAT", p); }), kBlobFieldsOrBlockSize) << bs;
  }
  TDataCreateParams wide;
  for (int i = 0; i < 262; ++i) {
    TFieldDesc f;
    f.name = "S" + std::to_string(i);
    f.type = kTypeString;
    f.size = 250;
    wide.fields.push_back(f);
  }
  LayOutRecord(wide.fields);
  EXPECT_EQ(Code([&] { d.CreateTable(Base("D") + ".DAT", wide); }), kMaxRecordSize);
}

TEST_F(TableFilesTest, RecordSizesFollowTheFields) {
  TDataFile a("T");
  a.CreateTable(Base("A") + ".DAT", OneField(kTypeInteger, 0, kAutoIncrementSubtype));
  EXPECT_EQ(a.record_size(), 9u) << "only an auto-increment field";
  TDataFile b("T");
  b.CreateTable(Base("B") + ".DAT", OneField(kTypeString, 250));
  EXPECT_EQ(b.record_size(), 9u + 252u);
  a.CloseTable();
  b.CloseTable();
}

TEST_F(TableFilesTest, FreeChainIsReusedNewestFirstThenRecordsAppend) {
  TDataFile d("T");
  d.CreateTable(Base() + ".DAT", OneField(kTypeInteger, 0));
  for (int i = 0; i < 10; ++i) d.AllocateRecord(false, false);
  d.DeleteRecord(5);
  d.DeleteRecord(9);
  EXPECT_EQ(d.header().first_free, 9u);
  EXPECT_EQ(LoadU32(d.GetRecord(9)->data() + 1), 5u);
  EXPECT_EQ(LoadU32(d.GetRecord(5)->data() + 1), 0u);
  EXPECT_EQ(d.AllocateRecord(false, false)->number(), 9u);
  EXPECT_EQ(d.AllocateRecord(false, false)->number(), 5u);
  EXPECT_EQ(d.AllocateRecord(false, false)->number(), 11u);
  d.DeleteRecord(3);
  EXPECT_EQ(d.AllocateRecord(true, false)->number(), 12u) << "append-only skips the chain";
  d.CloseTable();
}

// The record cache reads ahead in 64 KiB runs both ways: walking a reopened
// table forwards or backwards takes a read per run, not per record; with a
// small cache and writes held (a transaction) the cache grows instead of
// writing, and a write-back then writes every changed record.
TEST_F(TableFilesTest, RecordCacheReadsAheadBothWaysAndHoldsWrites) {
  {
    TDataFile d("T");
    d.CreateTable(Base() + ".DAT", OneField(kTypeInteger, 0));
    for (std::uint32_t i = 1; i <= 5000; ++i) {
      TPinnedRecord r = d.AllocateRecord(false, false);
      StoreU32(r->data() + 10, i * 7);
      r->MarkDirty();
    }
    d.CloseTable();
  }
  const std::uint64_t per_read = 65535 / 14;  // records of 14 bytes
  for (const bool backward : {false, true}) {
    TDataFile d("T");
    d.OpenTable(Base() + ".DAT", true, false);
    for (std::uint32_t k = 0; k < 5000; ++k) {
      const std::uint32_t n = backward ? 5000 - k : k + 1;
      EXPECT_EQ(LoadU32(d.GetRecord(n)->data() + 10), n * 7);
    }
    EXPECT_LE(d.cache_reads(), 5000 / per_read + 3) << (backward ? "backward" : "forward");
    d.CloseTable();
  }
  TDataFile d("T");
  d.OpenTable(Base() + ".DAT", true, false);
  d.set_cache_capacity(16);
  d.HoldWrites(true);
  for (std::uint32_t n = 1; n <= 100; ++n) {
    TPinnedRecord r = d.GetRecord(n);
    StoreU32(r->data() + 10, n);
    r->MarkDirty();
  }
  EXPECT_GE(d.cached_records(), 100u);
  d.DiscardChanges();  // a rollback: the file still holds the old values
  EXPECT_EQ(LoadU32(d.GetRecord(50)->data() + 10), 350u);
  d.HoldWrites(false);
  for (std::uint32_t n = 1; n <= 100; ++n) {
    TPinnedRecord r = d.GetRecord(n);
    StoreU32(r->data() + 10, n);
    r->MarkDirty();
  }
  EXPECT_LE(d.cached_records(), 16u);
  d.CloseTable();
  d.OpenTable(Base() + ".DAT", true, false);
  for (std::uint32_t n = 1; n <= 100; ++n) EXPECT_EQ(LoadU32(d.GetRecord(n)->data() + 10), n);
  d.CloseTable();
}
TEST_F(TableFilesTest, AutoIncrementWrapsToOne) {
  TDataFile d("T");
  d.CreateTable(Base() + ".DAT", OneField(kTypeInteger, 0, kAutoIncrementSubtype));
  d.SetLastAutoIncrement(2147483646);
  EXPECT_EQ(d.NextAutoIncrement(), 2147483647);
  EXPECT_EQ(d.NextAutoIncrement(), 1);
  TPinnedRecord r = d.AllocateRecord(false, true);
  EXPECT_EQ(LoadI32(r->data() + 5), 2);
  r.Release();
  d.CloseTable();
}

// Damages one stored byte range of a closed update table's data file and
// opens it again.
class DataDamageTest : public TableFilesTest {
 protected:
  int OpenDamaged(std::size_t at, std::vector<std::uint8_t> bytes, std::int64_t cut = -1) {
    {
      TableFiles t(Base());
      TIndexDesc primary;
      primary.fields = {1};
      t.Create(UpdateTableParams(), primary);
      t.InsertWord("one", "x");
      t.InsertWord("two", "");
    }
    {
      TFileHandler f;
      f.Open(Base() + ".DAT");
      if (!bytes.empty()) f.WriteAt(static_cast<std::int64_t>(at), bytes.data(), bytes.size());
      if (cut >= 0) f.Truncate(cut);
      f.Close();
    }
    TDataFile d("Data");
    return Code([&] { d.OpenTable(Base() + ".DAT", true, false); });
  }
};

TEST_F(DataDamageTest, OpenChecksRefuseEachDamage) {
  EXPECT_EQ(OpenDamaged(0, {}), 0);
  EXPECT_EQ(OpenDamaged(8, {3}), kWrongVersion);
  EXPECT_EQ(OpenDamaged(103, {0x34, 0x12}), kLanguageDriver);
  EXPECT_EQ(OpenDamaged(35, {51}), kHeaderCorrupt) << "description length";
  EXPECT_EQ(OpenDamaged(87, {3}), kHeaderCorrupt) << "password without encryption";
  EXPECT_EQ(OpenDamaged(4, {10, 0, 0, 0}), kHeaderCorrupt) << "block size below 19";
  EXPECT_EQ(OpenDamaged(9, {3, 0, 0, 0}), kHeaderCorrupt) << "free record beyond the records";
  EXPECT_EQ(OpenDamaged(13, {9, 0, 0, 0}), kHeaderCorrupt) << "next record disagrees";
  EXPECT_EQ(OpenDamaged(21, {71, 0}), kHeaderCorrupt) << "record size";
  EXPECT_EQ(OpenDamaged(23, {0, 0}), kHeaderCorrupt) << "no fields";
  EXPECT_EQ(OpenDamaged(23, {0xFF, 0xFF}), kHeaderCorrupt) << "65535 fields";
  EXPECT_EQ(OpenDamaged(25, {2, 0}), kHeaderCorrupt) << "BLOB field count";
  EXPECT_EQ(OpenDamaged(127 + 2, {31}), kHeaderCorrupt) << "name length";
  EXPECT_EQ(OpenDamaged(127 + 3, {'1'}), kHeaderCorrupt) << "name starting with a digit";
  EXPECT_EQ(OpenDamaged(127 + 768 + 2, {4, 'W', 'O', 'R', 'D'}), kHeaderCorrupt) << "same name";
  EXPECT_EQ(OpenDamaged(127 + 84, {0}), kHeaderCorrupt) << "type 0";
  EXPECT_EQ(OpenDamaged(127 + 86, {251}), kHeaderCorrupt) << "size above 250";
  EXPECT_EQ(OpenDamaged(127 + 90, {10, 0}), kHeaderCorrupt) << "offset";
  EXPECT_EQ(OpenDamaged(127 + 768, {1, 0}), kHeaderCorrupt) << "field number";
  EXPECT_EQ(OpenDamaged(0, {}, 1663 + 70 + 1), kHeaderCorrupt) << "a partial record";
  EXPECT_EQ(OpenDamaged(0, {}, 1663 + 70), kHeaderCorrupt) << "a record missing";
  EXPECT_EQ(OpenDamaged(0, {}, 100), kHeaderCorrupt) << "shorter than the header";
}

TEST_F(DataDamageTest, AFreeChainHeadThatIsNoDeletedRecordIsRefusedAtInsert) {
  ASSERT_EQ(OpenDamaged(9, {1, 0, 0, 0}), 0);
  TDataFile d("Data");
  d.OpenTable(Base() + ".DAT", true, false);
  EXPECT_EQ(Code([&] { d.AllocateRecord(false, false); }), kRecordBuffersCorrupt)
      << "record 1 is active";
  EXPECT_EQ(d.record_count(), 2u);
}

TEST_F(TableFilesTest, EncryptedTableRoundTripsAndHidesItsBytes) {
  auto params = UpdateTableParams();
  params.encrypted = true;
  params.password = "secret";
  params.description = "scrambled words";
  {
    TableFiles t(Base());
    TIndexDesc primary;
    primary.fields = {1};
    t.Create(params, primary);
    for (int i = 0; i < 300; ++i) {
      ASSERT_TRUE(t.InsertWord("plainword" + std::to_string(i), std::string(150, 'q')));
    }
    const TTableReport r = t.Check();
    EXPECT_TRUE(r.Clean()) << Lines(r);
    t.Close();
  }
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    TFileHandler f;
    f.Open(Base() + ext);
    std::string bytes(static_cast<std::size_t>(f.Size()), '\0');
    f.ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    f.Close();
    EXPECT_EQ(bytes.find("plainword"), std::string::npos) << ext;
    EXPECT_EQ(bytes.find("secret"), std::string::npos) << ext;
    EXPECT_EQ(bytes.find("qqqqqqqq"), std::string::npos) << ext;
  }
  TableFiles t(Base());
  t.Open();
  EXPECT_EQ(t.data.header().password, "secret");
  EXPECT_EQ(t.data.header().description, "scrambled words");
  EXPECT_EQ(t.index.KeyCount(0), 300u);
  EXPECT_EQ(t.Trans(7), std::string(150, 'q'));
}

}  // namespace
}  // namespace vandrel::engine::test
