// The base container through its own interface: the pinned bytes of a new
// container, inner files, chains, truncation, table growth, names, close.
#include "engine/container.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/container_format.h"
#include "platform/error.h"
#include "tests/engine/container_fixture.h"

namespace vandrel::engine::test {
namespace {

using container::GetI32;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

TEST_F(ContainerTest, NewContainerIsTheEmptyContainerBytesAndStaysSoAfterReopen) {
  std::string path = Path("empty.vbas");
  TEntireDataBase::Create(path).reset();
  std::vector<std::uint8_t> expected(8192, 0);
  const std::uint8_t header[20] = {'V', 'B', 'A', 'S', 1, 0, 0,    0,    2,    0,
                                   0,   0,   2,   0,   0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  std::memcpy(expected.data(), header, sizeof(header));
  std::memset(expected.data() + 4096, 0xFF, 8);  // entries 0 and 1: -1
  EXPECT_EQ(FileBytes(path), expected);
  // Open and close without writes: the spare pages of the mapping are cut.
  TEntireDataBase::Open(path).reset();
  EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(ContainerTest, CreateRefusesAnExistingFile) {
  std::string path = Path("c.vbas");
  TEntireDataBase::Create(path).reset();
  try {
    TEntireDataBase::Create(path);
    FAIL() << "created over an existing file";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), win::ERROR_FILE_EXISTS);
  }
}

TEST_F(ContainerTest, InnerFilesReadWriteTruncateAndSurviveReopen) {
  std::string path = Path("c.vbas");
  auto data = Pattern(20000, 1);
  {
    auto db = TEntireDataBase::Create(path);
    int a = db->CreateInner("a.dat", 0x80, 0x80);
    int b = db->CreateInner("B.IDX", 0x80, 0x80);
    ASSERT_GE(a, 1);
    ASSERT_GE(b, 1);
    EXPECT_NE(a, b);
    // Interleaved writes make the two chains interleave in the file.
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(db->WriteAt(a, i * 4000, data.data() + i * 4000, 4000), 4000);
      EXPECT_EQ(db->WriteAt(b, i * 100, data.data(), 100), 100);
    }
    EXPECT_EQ(db->InnerSize(a), 20000);
    std::vector<std::uint8_t> back(20000);
    EXPECT_EQ(db->ReadAt(a, 0, back.data(), 30000), 20000);
    EXPECT_EQ(back, data);
    // Reading at or past the end gives nothing.
    EXPECT_EQ(db->ReadAt(a, 20000, back.data(), 10), 0);
    EXPECT_EQ(db->ReadAt(a, 25000, back.data(), 10), 0);
    // Truncating to 5000 keeps two pages; bytes past the end read as zero
    // when the file grows again.
    EXPECT_TRUE(db->SetInnerSize(a, 5000));
    EXPECT_EQ(db->List()[0].pages, 2);
    std::uint8_t one = 7;
    EXPECT_EQ(db->WriteAt(a, 6000, &one, 1), 1);
    std::vector<std::uint8_t> gap(1000);
    EXPECT_EQ(db->ReadAt(a, 5000, gap.data(), 1000), 1000);
    EXPECT_EQ(gap, std::vector<std::uint8_t>(1000, 0));
    ExpectClean(*db);
    // Truncating to 0 frees every page.
    EXPECT_TRUE(db->SetInnerSize(b, 0));
    EXPECT_EQ(db->List()[1].first_page, -1);
    ExpectClean(*db);
    db->CloseInner(a);
    db->CloseInner(b);
  }
  auto db = TEntireDataBase::Open(path);
  ExpectClean(*db);
  int a = db->OpenInner("A.DAT", 0x80);  // names compare case-insensitively
  ASSERT_GE(a, 1);
  EXPECT_EQ(db->InnerSize(a), 6001);
  std::vector<std::uint8_t> back(5000);
  db->ReadAt(a, 0, back.data(), 5000);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
  EXPECT_EQ(db->OpenInner("missing", 0), -1);
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST_F(ContainerTest, NamesAreTrimmedAndCutAt63Bytes) {
  auto db = TEntireDataBase::Create(Path("c.vbas"));
  std::string long_name(70, 'x');
  int s = db->CreateInner("  " + long_name + " ", 0x80, 0x80);
  ASSERT_GE(s, 1);
  EXPECT_EQ(db->List()[0].name, std::string(63, 'x'));
  EXPECT_TRUE(db->Exists(std::string(63, 'X') + "yyy"));
  EXPECT_EQ(db->CreateInner("   ", 0x80, 0x80), -1);
  db->CloseInner(s);
  ExpectClean(*db);
}

TEST_F(ContainerTest, SecondOpenSharesTheSlotAndDeleteOnCloseWaitsForTheLastClose) {
  auto db = TEntireDataBase::Create(Path("c.vbas"));
  int s = db->CreateInner("t.dat", 0x80, 0x80);
  db->CloseInner(s);
  int first = db->OpenInner("T.DAT", kInnerDeleteOnClose);
  int second = db->OpenInner("t.dat", 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(db->SlotReferences(first), 2);
  // An open file cannot be deleted: its page list would name reused pages.
  EXPECT_EQ(db->DeleteInner("t.dat"), win::ERROR_SHARING_VIOLATION);
  db->CloseInner(first);
  EXPECT_TRUE(db->Exists("t.dat"));
  EXPECT_EQ(db->OpenSlotCount(), 1);
  db->CloseInner(second);
  EXPECT_FALSE(db->Exists("t.dat"));
  EXPECT_EQ(db->OpenSlotCount(), 0);
  EXPECT_EQ(db->DeleteInner("t.dat"), win::ERROR_FILE_NOT_FOUND);
  ExpectClean(*db);
}

TEST_F(ContainerTest, TableGrowthMovesPageTwoAndKeepsEveryFileReadable) {
  std::string path = Path("grow.vbas");
  auto first = Pattern(3000, 2);
  {
    auto db = TEntireDataBase::Create(path);
    int a = db->CreateInner("first", 0x80, 0x80);  // directory page: page 2
    ASSERT_EQ(db->WriteAt(a, 0, first.data(), first.size()), 3000);
    int big = db->CreateInner("big", 0x80, 0x80);
    auto block = Pattern(4096 * 64, 3);
    std::int64_t at = 0;
    while (db->PageCount() <= 2100) {
      ASSERT_EQ(db->WriteAt(big, at, block.data(), block.size()),
                static_cast<std::int64_t>(block.size()));
      at += static_cast<std::int64_t>(block.size());
      // The first table growth moved page 2 (the directory) to page 1024.
      if (db->PageCount() > 1024 && db->PageCount() < 1100) {
        EXPECT_EQ(GetI32(db->Bytes() + 16), 1024);
      }
    }
    EXPECT_EQ(db->TableEnd(), 4);
    ExpectClean(*db);
    std::vector<std::uint8_t> back(3000);
    EXPECT_EQ(db->ReadAt(a, 0, back.data(), 3000), 3000);
    EXPECT_EQ(back, first);
    std::vector<std::uint8_t> tail(block.size());
    EXPECT_EQ(db->ReadAt(big, at - static_cast<std::int64_t>(block.size()), tail.data(),
                         static_cast<std::int64_t>(tail.size())),
              static_cast<std::int64_t>(tail.size()));
    EXPECT_EQ(tail, block);
    db->CloseInner(a);
    db->CloseInner(big);
  }
  std::int64_t pages = 0;
  {
    auto db = TEntireDataBase::Open(path);
    ExpectClean(*db);
    pages = db->PageCount();
  }
  // A clean close cuts the spare pages of the mapping.
  EXPECT_EQ(FileBytes(path).size(), static_cast<std::size_t>(pages) * 4096);
}

TEST_F(ContainerTest, TableGrowthMovesPagesOfClosedFiles) {
  // Growths at 1024, 2048 and 3072 pages move pages 2 (directory), 3 (the
  // first page of a closed file) and 4 (its second page).
  auto head = Pattern(8192, 4);
  auto db = TEntireDataBase::Create(Path("closed.vbas"));
  int h = db->CreateInner("head", 0x80, 0x80);
  ASSERT_EQ(db->WriteAt(h, 0, head.data(), 8192), 8192);
  db->CloseInner(h);
  int big = db->CreateInner("big", 0x80, 0x80);
  auto block = Pattern(4096 * 128, 5);
  for (std::int64_t at = 0; db->PageCount() <= 3100; at += 4096 * 128) {
    ASSERT_EQ(db->WriteAt(big, at, block.data(), 4096 * 128), 4096 * 128);
  }
  db->CloseInner(big);
  EXPECT_EQ(db->TableEnd(), 5);
  ExpectClean(*db);
  h = db->OpenInner("head", 0);
  std::vector<std::uint8_t> back(8192);
  EXPECT_EQ(db->ReadAt(h, 0, back.data(), 8192), 8192);
  EXPECT_EQ(back, head);
  db->CloseInner(h);
}

TEST_F(ContainerTest, FlushWritesPersistentContainersOnlyWhenDirty) {
  auto db = TEntireDataBase::Create(Path("p.vbas"));
  int s = db->CreateInner("f", 0x80, 0x80);
  auto bytes = Pattern(5000, 6);
  db->WriteAt(s, 0, bytes.data(), 5000);
  EXPECT_TRUE(db->Dirty());
  EXPECT_TRUE(db->Flush());
  EXPECT_FALSE(db->Dirty());
  // What the flush wrote is in the file while the container stays open.
  auto on_disk = FileBytes(Path("p.vbas"));
  ASSERT_GE(on_disk.size(), 4u * 4096);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 4096, on_disk.begin() + 3 * 4096));
  db->CloseInner(s);
  auto tmp = TEntireDataBase::Create(Path("t.tmp"));
  s = tmp->CreateInner("f", 0x80, 0x80);
  tmp->WriteAt(s, 0, bytes.data(), 5000);
  EXPECT_TRUE(tmp->Flush());  // temporary containers are never flushed
  EXPECT_FALSE(tmp->Dirty());
  tmp->CloseInner(s);
}

// Fresh pages take their first uses through the file, later ones through
// the mapping: whichever way bytes went, reads, the mapped bytes, freed
// pages and a reopen all agree.
TEST_F(ContainerTest, FreshPagesAgreeWhetherWrittenThroughTheFileOrTheMapping) {
  std::string path = Path("cold.vbas");
  std::vector<std::uint8_t> model_f, model_g;
  {
    auto db = TEntireDataBase::Create(path);
    int f = db->CreateInner("f", 0x80, 0x80);
    int g = db->CreateInner("g", 0x80, 0x80);
    // Interleaved growth: runs of consecutive pages end where g's begin.
    for (unsigned round = 0; round < 6; ++round) {
      auto a = Pattern(4096 * 5 + 100, 10 + round);
      auto b = Pattern(3000, 20 + round);
      ASSERT_EQ(db->WriteAt(f, static_cast<std::int64_t>(model_f.size()), a.data(),
                            static_cast<std::int64_t>(a.size())),
                static_cast<std::int64_t>(a.size()));
      model_f.insert(model_f.end(), a.begin(), a.end());
      ASSERT_EQ(db->WriteAt(g, static_cast<std::int64_t>(model_g.size()), b.data(), 3000), 3000);
      model_g.insert(model_g.end(), b.begin(), b.end());
    }
    // Small rewrites of one place, read back each time: the page turns
    // from the file's to the mapping's on the way.
    for (unsigned i = 0; i < 12; ++i) {
      auto piece = Pattern(70, 40 + i);
      const std::int64_t at = 4096 * 7 + 50 + 70 * i;
      ASSERT_EQ(db->WriteAt(f, at, piece.data(), 70), 70);
      std::copy(piece.begin(), piece.end(), model_f.begin() + at);
      std::vector<std::uint8_t> back(4096 * 3);
      ASSERT_EQ(db->ReadAt(f, 4096 * 6, back.data(), 4096 * 3), 4096 * 3);
      ASSERT_TRUE(std::equal(back.begin(), back.end(), model_f.begin() + 4096 * 6)) << i;
    }
    std::vector<std::uint8_t> back(model_f.size());
    ASSERT_EQ(db->ReadAt(f, 0, back.data(), static_cast<std::int64_t>(back.size())),
              static_cast<std::int64_t>(back.size()));
    EXPECT_EQ(back, model_f);
    // The mapped bytes of f's first page are what went through the file.
    const std::int32_t first = db->List()[0].first_page;
    EXPECT_TRUE(std::equal(model_f.begin(), model_f.begin() + 4096, db->Bytes() + first * 4096LL));
    // Cutting g frees its pages: zero, as free pages must be.
    ASSERT_TRUE(db->SetInnerSize(g, 0));
    ExpectClean(*db);
    db->CloseInner(f);
    db->CloseInner(g);
  }
  auto db = TEntireDataBase::Open(path);
  ExpectClean(*db);
  int f = db->OpenInner("f", 0);
  std::vector<std::uint8_t> back(model_f.size());
  ASSERT_EQ(db->ReadAt(f, 0, back.data(), static_cast<std::int64_t>(back.size())),
            static_cast<std::int64_t>(back.size()));
  EXPECT_EQ(back, model_f);
  db->CloseInner(f);
}

TEST_F(ContainerTest, WritesPastTheInnerFileLimitAreRefusedWithoutChange) {
  auto db = TEntireDataBase::Create(Path("c.vbas"));
  int s = db->CreateInner("f", 0x80, 0x80);
  std::uint8_t b = 1;
  EXPECT_EQ(db->WriteAt(s, 0x7FFFFFFF, &b, 1), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
  EXPECT_EQ(db->InnerSize(s), 0);
  std::uint8_t two[2] = {1, 2};
  EXPECT_EQ(db->WriteAt(s, 0x7FFFFFFE, two, 2), 0);
  EXPECT_EQ(db->InnerSize(s), 0);
  ExpectClean(*db);
  db->CloseInner(s);
}

TEST_F(ContainerTest, OpenRefusesDamageWithTheContainerMessages) {
  std::string path = Path("d.vbas");
  TEntireDataBase::Create(path).reset();
  auto good = FileBytes(path);
  auto expect_message = [&](const std::vector<std::uint8_t>& bytes, const char* message) {
    WriteBytes(path, bytes);
    try {
      TEntireDataBase::Open(path);
      ADD_FAILURE() << "opened: " << message;
    } catch (const EContainerError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expect_message(std::vector<std::uint8_t>(good.begin(), good.begin() + 100), "Invalid base file");
  auto bad = good;
  bad[0] = 'X';
  expect_message(bad, "Incorrect base signature");
  bad = good;
  bad[4] = 2;
  expect_message(bad, "Incorrect base version");
  bad = good;
  bad[8] = 3;  // three pages in an 8192-byte file
  expect_message(bad, "Wrong base size");
  bad = good;
  bad[16] = 5;  // directory head out of range
  bad[17] = bad[18] = bad[19] = 0;
  expect_message(bad, "Invalid base file");
  bad = good;
  bad[12] = 1;  // table end below 2
  expect_message(bad, "Invalid base file");
}

}  // namespace
}  // namespace vandrel::engine::test
