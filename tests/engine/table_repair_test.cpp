// The table repair run: each kind of damage to the data, index and BLOB
// files, repaired, leaves a table that passes its check and still holds
// every record that could be read, with its BLOB value; a verify run
// reports the same damage and writes nothing.
#include "tests/engine/repair_fixture.h"

namespace vandrel::engine::test {
namespace {

class TableRepairTest : public WordTableTest {
 protected:
  void SetUp() override {
    Fill(120);
    ASSERT_EQ(CheckLines(), "");
  }
  // Repairs, then the table is clean and reads as the model.
  TRepairReport RepairedClean() {
    TRepairReport r = Repair();
    EXPECT_TRUE(r.damaged);
    EXPECT_FALSE(r.unrepairable);
    EXPECT_EQ(CheckLines(), "") << Joined(r.messages);
    EXPECT_EQ(Read(), model_) << Joined(r.messages);
    EXPECT_FALSE(Repair().damaged) << "a second run finds nothing";
    return r;
  }
};

TEST_F(TableRepairTest, CleanTableIsLeftAlone) {
  const Bytes dat = ReadFile(".DAT"), idx = ReadFile(".IDX"), blb = ReadFile(".BLB");
  const TRepairReport r = Repair();
  EXPECT_FALSE(r.damaged) << Joined(r.messages);
  EXPECT_FALSE(r.index_rebuilt);
  EXPECT_EQ(ReadFile(".DAT"), dat);
  EXPECT_EQ(ReadFile(".IDX"), idx);
  EXPECT_EQ(ReadFile(".BLB"), blb);
}

TEST_F(TableRepairTest, CorruptIndexPagesAreRebuiltFromTheRecords) {
  Bytes idx = ReadFile(".IDX");
  ASSERT_GE(idx.size(), 3 * 4096u);
  for (std::size_t i = 4096; i < 3 * 4096; i += 3) idx[i] = static_cast<std::uint8_t>(i * 7);
  WriteFile(".IDX", idx);
  EXPECT_NE(CheckLines(), "");
  // Verify: reported, nothing written.
  const TRepairReport v = Repair(false);
  EXPECT_TRUE(v.damaged);
  ASSERT_FALSE(v.messages.empty());
  EXPECT_NE(v.messages[0].find("Invalid index file"), std::string::npos) << v.messages[0];
  EXPECT_NE(v.messages[0].find(", error not fixed"), std::string::npos);
  EXPECT_EQ(ReadFile(".IDX"), idx);

  const TRepairReport r = RepairedClean();
  EXPECT_TRUE(r.index_rebuilt);
  // The primary key survived: key search works again.
  TDataDirectory& d = session_.OpenDirectory(Db());
  TDataCursor c(d);
  c.Open("Data");
  EXPECT_TRUE(c.FindKey({WordOf(5)}));
  EXPECT_EQ(c.GetField(1), Trans(5));
  c.Close();
  session_.CloseDirectory(d);
}

TEST_F(TableRepairTest, LostIndexFileOpensReadOnlyUntilRepaired) {
  TFileHandler::DeleteFile(Base() + ".IDX", false, "Data");
  TBaseList::Global().CloseAll();
  {
    TDataDirectory& d = session_.OpenDirectory(Db());
    TDataCursor c(d);
    c.Open("Data");
    EXPECT_TRUE(c.Table().ReadOnly());
    EXPECT_EQ(CodeOf([&] {
                c.Insert();
                c.SetField(0, "new");
                c.Post();
              }),
              kAccessDenied);
    if (c.state() != TDataCursor::kBrowse) c.Cancel();
    c.Close();
    session_.CloseDirectory(d);
    TBaseList::Global().CloseAll();
  }
  // The definitions went with the file: the primary key is given back.
  const TRepairReport r = Repair(true, {1});
  EXPECT_TRUE(r.index_rebuilt);
  EXPECT_EQ(CheckLines(), "") << Joined(r.messages);
  EXPECT_EQ(Read(), model_);
  TDataDirectory& d = session_.OpenDirectory(Db());
  {
    TDataCursor c(d);
    c.Open("Data");
    EXPECT_FALSE(c.Table().ReadOnly());
    Put(c, "zebra", "a striped horse");
    EXPECT_TRUE(c.FindKey({WordOf(3)}));
    c.Close();
  }
  session_.CloseDirectory(d);
  TBaseList::Global().CloseAll();
  EXPECT_EQ(CheckLines(), "");
  EXPECT_EQ(Read(), model_);
}

TEST_F(TableRepairTest, LostIndexFileWithoutAKeyGivesRecordOrder) {
  TFileHandler::DeleteFile(Base() + ".IDX", false, "Data");
  TBaseList::Global().CloseAll();
  const TRepairReport r = Repair();
  EXPECT_NE(Joined(r.messages).find("Missing index file, error fixed"), std::string::npos);
  EXPECT_EQ(CheckLines(), "");
  EXPECT_EQ(Read(), model_);
}

TEST_F(TableRepairTest, CutChainKeepsTheBytesItStillHolds) {
  const Bytes dat = ReadFile(".DAT");
  Bytes blb = ReadFile(".BLB");
  const std::uint32_t n = RecordWithBlocks(dat, blb, 3);
  ASSERT_NE(n, 0u);
  const std::uint32_t first = FirstBlock(dat, n);
  const std::uint32_t second = LoadU32(blb.data() + first + 4);
  StoreU32(blb.data() + second + 4, 7);  // not a block
  WriteFile(".BLB", blb);
  const std::string word = WordOfRecord(dat, n);
  model_[word] = model_[word].substr(0, 220);
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.messages.at(0), "Invalid intra-block pointer in BLOB file for physical record # " +
                                  std::to_string(n) + ", error fixed");
}

TEST_F(TableRepairTest, LoopIsCutAndTheValueKept) {
  const Bytes dat = ReadFile(".DAT");
  Bytes blb = ReadFile(".BLB");
  const std::uint32_t n = RecordWithBlocks(dat, blb, 3);
  ASSERT_NE(n, 0u);
  std::uint32_t b = FirstBlock(dat, n);
  while (LoadU32(blb.data() + b + 4) != 0) b = LoadU32(blb.data() + b + 4);
  StoreU32(blb.data() + b + 4, FirstBlock(dat, n));  // the last block back to the first
  WriteFile(".BLB", blb);
  EXPECT_NE(CheckLines(), "");
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.messages.at(0), "Recursive intra-block pointer in BLOB file for physical record # " +
                                  std::to_string(n) + ", error fixed");
}

TEST_F(TableRepairTest, ForeignFirstBlockClearsOnlyThatReference) {
  Bytes dat = ReadFile(".DAT");
  const Bytes blb = ReadFile(".BLB");
  const std::uint32_t a = RecordWithBlocks(dat, blb, 1);
  std::uint32_t b = a + 1;
  while (dat[RecordAt(b)] != 0 || FirstBlock(dat, b) == 0) ++b;
  StoreU32(dat.data() + RecordAt(a) + kTransOffset + 1, FirstBlock(dat, b));
  WriteFile(".DAT", dat);
  EXPECT_EQ(CodeOf([&] { Read(); }), kRecordChanged);
  model_[WordOfRecord(dat, a)] = "";
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.messages.at(0), "Invalid BLOB offset in BLOB file for physical record # " +
                                  std::to_string(a) + ", error fixed");
}

TEST_F(TableRepairTest, OrphanBlocksAndTornTailAreFreed) {
  Bytes blb = ReadFile(".BLB");
  // Three blocks owned by nobody's chain, then half a block.
  for (int i = 0; i < 3; ++i) {
    Bytes block(128, 0x41);
    StoreU32(block.data(), 0);
    StoreU32(block.data() + 4, 0);
    StoreU32(block.data() + 10, 2);
    blb.insert(blb.end(), block.begin(), block.end());
  }
  StoreU32(blb.data() + 13, static_cast<std::uint32_t>(blb.size()));
  blb.insert(blb.end(), 64, 0x42);
  WriteFile(".BLB", blb);
  EXPECT_NE(CheckLines(), "");
  const TRepairReport r = RepairedClean();
  const std::string all = Joined(r.messages);
  EXPECT_NE(all.find("Incomplete block at the end of the BLOB file, error fixed"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("3 unowned blocks in BLOB file, error fixed"), std::string::npos) << all;
  // The freed blocks are reused before the file grows.
  const std::size_t size = ReadFile(".BLB").size();
  TDataDirectory& d = session_.OpenDirectory(Db());
  {
    TDataCursor c(d);
    c.Open("Data");
    Put(c, "reuse", std::string(300, 'r'));
    c.Close();
  }
  session_.CloseDirectory(d);
  TBaseList::Global().CloseAll();
  EXPECT_EQ(ReadFile(".BLB").size(), size);
  EXPECT_EQ(CheckLines(), "");
}

TEST_F(TableRepairTest, BadFreeChainHeadAndRecordCount) {
  Bytes dat = ReadFile(".DAT");
  StoreU32(dat.data() + 9, 99999);  // first free record beyond the records
  // Half a record appended, as a torn append leaves it.
  dat.insert(dat.end(), 35, 0x55);
  WriteFile(".DAT", dat);
  EXPECT_NE(CodeOf([&] { Read(); }), 0);
  const TRepairReport r = RepairedClean();
  const std::string all = Joined(r.messages);
  EXPECT_NE(all.find("Incomplete record at the end of the data file, error fixed"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("Invalid free record chain in data file, error fixed"), std::string::npos);
  // The rebuilt chain is used by the next inserts.
  const Bytes fixed = ReadFile(".DAT");
  EXPECT_EQ(fixed.size(), dat.size() - 35);
  const std::uint32_t head = LoadU32(fixed.data() + 9);
  ASSERT_NE(head, 0u);
  EXPECT_EQ(fixed[RecordAt(head)], 1);
}

TEST_F(TableRepairTest, BlankRecordLeftByAFailedAppendIsDeleted) {
  Bytes dat = ReadFile(".DAT");
  const std::uint32_t n =
      static_cast<std::uint32_t>((dat.size() - kRecordsStart) / kRecordSize) + 1;
  dat.resize(dat.size() + kRecordSize, 0);
  WriteFile(".DAT", dat);
  const TRepairReport r = RepairedClean();
  const std::string all = Joined(r.messages);
  EXPECT_NE(all.find("Invalid record count in data file header, error fixed"), std::string::npos)
      << all;
  EXPECT_NE(all.find("Invalid record status in data file for physical record # " +
                     std::to_string(n) + ", error fixed"),
            std::string::npos)
      << all;
  EXPECT_EQ(ReadFile(".DAT")[RecordAt(n)], 1) << "the blank record is deleted";
}

TEST_F(TableRepairTest, FreeChainThroughAnActiveRecordIsRebuilt) {
  Bytes dat = ReadFile(".DAT");
  const std::uint32_t head = LoadU32(dat.data() + 9);
  ASSERT_NE(head, 0u);
  StoreU32(dat.data() + RecordAt(head) + 1, 2);  // record 2 is active
  WriteFile(".DAT", dat);
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.messages.at(0), "Invalid free record chain in data file, error fixed");
}

TEST_F(TableRepairTest, DamagedFieldBytesAreMadeValid) {
  Bytes dat = ReadFile(".DAT");
  std::uint32_t n = 2;
  while (dat[RecordAt(n)] != 0) ++n;
  std::uint8_t* r = dat.data() + RecordAt(n);
  const std::string word = WordOfRecord(dat, n);
  r[10 + word.size()] = ' ';  // a trailing blank before the terminator
  r[10 + word.size() + 1] = 0;
  r[10 + 40] = 0x7F;    // a byte after the terminator
  StoreU32(r + 1, 77);  // not its own number
  WriteFile(".DAT", dat);
  const TRepairReport r1 = RepairedClean();
  const std::string all = Joined(r1.messages);
  EXPECT_NE(all.find("Invalid record number in data file for physical record # " +
                     std::to_string(n) + ", error fixed"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("Invalid field value in data file for physical record # " + std::to_string(n) +
                     ", error fixed"),
            std::string::npos);
}

TEST_F(TableRepairTest, DuplicateKeyDeletesOnlyTheLaterRecordAndSaysSo) {
  Bytes dat = ReadFile(".DAT");
  std::uint32_t a = 2, b = 3;
  while (dat[RecordAt(a)] != 0) ++a;
  b = a + 1;
  while (dat[RecordAt(b)] != 0) ++b;
  const std::string lost = WordOfRecord(dat, b);
  std::memcpy(dat.data() + RecordAt(b) + 10, dat.data() + RecordAt(a) + 10, 51);
  WriteFile(".DAT", dat);
  model_.erase(lost);
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.deleted_duplicates, 1u);
  EXPECT_NE(Joined(r.messages)
                .find("Duplicate key in index 'Primary' for physical record # " +
                      std::to_string(b) + ", record deleted, error fixed"),
            std::string::npos)
      << Joined(r.messages);
}

TEST_F(TableRepairTest, MissingBlobFileClearsEveryReference) {
  TFileHandler::DeleteFile(Base() + ".BLB", false, "Data");
  TBaseList::Global().CloseAll();
  for (auto& [w, t] : model_) t.clear();
  const TRepairReport r = RepairedClean();
  EXPECT_EQ(r.messages.at(0), "Missing BLOB file, error fixed");
}

TEST_F(TableRepairTest, DamagedDescriptorsAreNotTouched) {
  Bytes dat = ReadFile(".DAT");
  dat[127 + 84] = 0;  // field 1 of type 0
  WriteFile(".DAT", dat);
  const TRepairReport r = Repair();
  EXPECT_TRUE(r.unrepairable);
  EXPECT_EQ(ReadFile(".DAT"), dat);
}

TEST_F(TableRepairTest, OpenTableIsRefused) {
  TDataDirectory& d = session_.OpenDirectory(Db());
  TDataCursor c(d);
  c.Open("Data");
  TRepairOptions o;
  EXPECT_EQ(CodeOf([&] { RepairTable(d, "Data", o); }), kAccessDenied);
  EXPECT_EQ(CodeOf([&] { RepairTable(d, "None", o); }), kInvalidPath);
  c.Close();
  session_.CloseDirectory(d);
}

class EncryptedRepairTest : public WordTableTest {};

TEST_F(EncryptedRepairTest, ScrambledFilesAreRepairedWithThePassword) {
  Fill(60, true);
  ASSERT_EQ(CheckLines(), "");
  Bytes idx = ReadFile(".IDX");
  std::memset(idx.data() + 4096, 0xEE, 4096);
  WriteFile(".IDX", idx);
  Bytes blb = ReadFile(".BLB");
  blb.resize(blb.size() + 128, 0x11);  // an orphan of garbage
  WriteFile(".BLB", blb);
  session_.RemoveAllPasswords();
  EXPECT_EQ(CodeOf([&] { Repair(); }), kPasswordRequired);
  session_.AddPassword("secret");
  const TRepairReport r = Repair();
  EXPECT_TRUE(r.index_rebuilt);
  EXPECT_EQ(CheckLines(), "") << Joined(r.messages);
  EXPECT_EQ(Read(), model_);
}

}  // namespace
}  // namespace vandrel::engine::test
