// BLOB values in the word-update table: sizes around the block boundary and
// large ones, shrink and regrow, reuse of freed blocks, and damaged chains
// (foreign owners, loops, bad pointers) giving their codes and repair
// messages, never a crash or a grown file.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/record_codec.h"
#include "tests/engine/table_files_fixture.h"

namespace vandrel::engine::test {
namespace {

class BlobTest : public TableFilesTest {
 protected:
  void SetUp() override {
    t_ = std::make_unique<TableFiles>(Base());
    TIndexDesc primary;
    primary.fields = {1};
    t_->Create(UpdateTableParams(), primary);
  }
  void TearDown() override {
    t_.reset();
    TableFilesTest::TearDown();
  }
  static std::vector<std::uint8_t> Value(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
  }
  // Stores value as record n's Trans and returns the reference.
  std::uint32_t Put(std::uint32_t n, const std::vector<std::uint8_t>& value) {
    TPinnedRecord r = t_->data.GetRecord(n);
    const TFieldDesc& f = t_->data.fields()[1];
    const std::uint32_t first =
        t_->blob.Save(n, field::GetBlobRef(r->data(), f), value.data(), value.size());
    field::SetBlobRef(r->data(), f, first);
    r->MarkDirty();
    return first;
  }
  int Code(const std::function<void()>& f) {
    try {
      f();
    } catch (const EEngineError& e) {
      return e.Code();
    }
    return 0;
  }
  std::unique_ptr<TableFiles> t_;
};

TEST_F(BlobTest, ValuesOfEverySizeRoundTripThroughReopen) {
  const std::vector<std::size_t> sizes = {0, 1, 110, 111, 200 * 1024, 1024 * 1024};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_TRUE(t_->InsertWord("w" + std::to_string(i), ""));
    const std::uint32_t first = Put(static_cast<std::uint32_t>(i + 1), Value(sizes[i], i));
    EXPECT_EQ(first == 0, sizes[i] == 0);
  }
  // 110 bytes fill one block of 128; 111 take two.
  EXPECT_EQ(t_->blob.header().end_of_file,
            512u + 128u * (1 + 1 + 2 + (200 * 1024 + 109) / 110 + (1024 * 1024 + 109) / 110));
  TTableReport r = t_->Check();
  ASSERT_TRUE(r.Clean()) << Lines(r);
  t_->Close();
  t_ = std::make_unique<TableFiles>(Base());
  t_->Open();
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::string got = t_->Trans(static_cast<std::uint32_t>(i + 1));
    const auto want = Value(sizes[i], i);
    ASSERT_EQ(got, std::string(want.begin(), want.end())) << sizes[i];
  }
}

TEST_F(BlobTest, ShrinkFreesBlocksThatRegrowthReusesBeforeTheFileGrows) {
  ASSERT_TRUE(t_->InsertWord("a", ""));
  ASSERT_TRUE(t_->InsertWord("b", ""));
  Put(1, Value(330, 1));  // three blocks
  Put(2, Value(50, 2));
  const std::uint32_t eof = t_->blob.header().end_of_file;
  Put(1, Value(100, 3));  // one block: two freed
  EXPECT_NE(t_->blob.header().first_free, 0u);
  TTableReport r = t_->Check();
  ASSERT_TRUE(r.Clean()) << Lines(r);
  Put(2, Value(300, 4));  // two more blocks from the free list
  EXPECT_EQ(t_->blob.header().end_of_file, eof);
  EXPECT_EQ(t_->blob.header().first_free, 0u);
  EXPECT_EQ(t_->Trans(2), [] {
    auto v = Value(300, 4);
    return std::string(v.begin(), v.end());
  }());
  Put(1, {});  // empty: chain freed, reference cleared
  EXPECT_EQ(field::GetBlobRef(t_->data.GetRecord(1)->data(), t_->data.fields()[1]), 0u);
  r = t_->Check();
  ASSERT_TRUE(r.Clean()) << Lines(r);
}

TEST_F(BlobTest, DamagedChainsGiveTheirCodesAndRepairMessages) {
  ASSERT_TRUE(t_->InsertWord("a", ""));
  ASSERT_TRUE(t_->InsertWord("b", ""));
  const std::uint32_t a = Put(1, Value(330, 1));
  const std::uint32_t b = Put(2, Value(20, 2));
  t_->blob.WriteDirty();
  t_->blob.WriteHeader(false);
  const std::uint32_t eof = t_->blob.header().end_of_file;
  // A reference to another record's block.
  EXPECT_EQ(Code([&] { t_->blob.Load(1, b); }), kRecordChanged);
  EXPECT_EQ(t_->blob.CheckChain(1, b, false).message,
            "Invalid BLOB offset in BLOB file for physical record # 1, error not fixed");
  // Offsets that are no block of the file, the end of file included.
  for (const std::uint32_t bad : {0u, 100u, a + 1, eof, eof + 128, 0xFFFFFF80u}) {
    EXPECT_EQ(Code([&] { t_->blob.Load(1, bad); }), kBlobBuffersCorrupt) << bad;
  }
  EXPECT_EQ(t_->blob.header().end_of_file, eof) << "damage never grows the file";
  // A chain that loops back to its own first block.
  t_->Close();
  {
    TFileHandler f;
    f.Open(Base() + ".BLB");
    std::uint8_t link[4];
    StoreU32(link, a);
    f.WriteAt(a + 128 * 2 + 4, link, 4);  // the third block's next -> the first
    f.Close();
  }
  t_ = std::make_unique<TableFiles>(Base());
  t_->Open();
  EXPECT_EQ(Code([&] { t_->blob.Load(1, a); }), 0) << "the value ends before the loop";
  EXPECT_EQ(t_->blob.CheckChain(1, a, false).message,
            "Recursive intra-block pointer in BLOB file for physical record # 1, error not fixed");
  EXPECT_EQ(Code([&] { t_->blob.Free(1, a); }), kBlobBuffersCorrupt);
  const auto fixed = t_->blob.CheckChain(1, a, true);
  EXPECT_EQ(fixed.message,
            "Recursive intra-block pointer in BLOB file for physical record # 1, error fixed");
  EXPECT_EQ(t_->blob.CheckChain(1, a, false).message, "");
  EXPECT_EQ(Code([&] { t_->blob.Free(1, a); }), 0);
}

TEST_F(BlobTest, AValueLengthBeyondTheFileIsRefused) {
  ASSERT_TRUE(t_->InsertWord("a", ""));
  const std::uint32_t a = Put(1, Value(30, 1));
  t_->Close();
  {
    TFileHandler f;
    f.Open(Base() + ".BLB");
    std::uint8_t len[4];
    StoreU32(len, 0x7FFFFFFF);
    f.WriteAt(a + 14, len, 4);
    f.Close();
  }
  t_ = std::make_unique<TableFiles>(Base());
  t_->Open();
  EXPECT_EQ(Code([&] { t_->blob.Load(1, a); }), kBlobBuffersCorrupt);
}

}  // namespace
}  // namespace vandrel::engine::test
