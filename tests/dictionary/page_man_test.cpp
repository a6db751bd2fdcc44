// The page item layout: building pages, reading them back, and the checked
// reader on damaged pages.
#include "dictionary/page_man.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vandrel {
namespace {

struct Page {
  explicit Page(std::uint32_t size) : bytes(size, 0) {
    man.Page = bytes.data();
    man.PageSize = size;
  }
  unsigned Offset(int i) const { return bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8); }
  std::vector<std::uint8_t> bytes;
  TPageMan man;
};

TEST(PageManTest, FreshPageAndFirstItem) {
  Page p(4096);
  EXPECT_EQ(p.man.ItemCount(), 0);
  EXPECT_EQ(p.man.FreeSpace(), 4096 - 4);

  std::uint8_t* item = p.man.AddItem(10);
  EXPECT_EQ(item, p.bytes.data() + 4096 - 10);
  EXPECT_EQ(p.man.ItemCount(), 1);
  EXPECT_EQ(p.Offset(0), 4096u - 10);
  EXPECT_EQ(p.man.ItemSize(0), 10);
  EXPECT_EQ(p.man.ItemPtr(0), item);
  EXPECT_EQ(p.man.FreeSpace(), 4096 - 10 - 2 - 4);
  // The count and the offset are little-endian 16-bit values.
  EXPECT_EQ(p.bytes[0], 1);
  EXPECT_EQ(p.bytes[1], 0);
  EXPECT_EQ(p.bytes[2], (4096 - 10) & 0xFF);
  EXPECT_EQ(p.bytes[3], (4096 - 10) >> 8);
}

TEST(PageManTest, ItemsStackDownFromThePageEnd) {
  Page p(256);
  const int sizes[] = {7, 0, 30, 1};
  for (int s : sizes) std::fill_n(p.man.AddItem(s), s, static_cast<std::uint8_t>(s));
  ASSERT_EQ(p.man.ItemCount(), 4);
  int end = 256;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p.man.ItemSize(i), sizes[i]);
    EXPECT_EQ(p.man.ItemPtr(i), p.bytes.data() + end - sizes[i]);
    for (int k = 0; k < sizes[i]; ++k) EXPECT_EQ(p.man.ItemPtr(i)[k], sizes[i]);
    end -= sizes[i];
  }
  EXPECT_EQ(p.man.FreeSpace(), end - 2 * 4 - 4);
}

TEST(PageManTest, EmptyItemsSitAtThePageEnd) {
  // The compiler writes three of them on an empty parameters page; on a
  // 64 KiB page their offset 65536 is stored as 0 and must read back.
  for (std::uint32_t size : {8192u, 65536u}) {
    Page p(size);
    for (int k = 0; k < 3; ++k) p.man.AddItem(0);
    ASSERT_EQ(p.man.ItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(p.man.ItemSize(i), 0) << size;
      EXPECT_EQ(p.man.ItemPtr(i), p.bytes.data() + size) << size;
      const std::uint8_t* ptr = nullptr;
      int n = -1;
      EXPECT_TRUE(p.man.CheckedItem(i, ptr, n));
      EXPECT_EQ(n, 0);
    }
    EXPECT_EQ(p.man.FreeSpace(), static_cast<int>(size) - 6 - 4);
  }
}

TEST(PageManTest, AnItemOfExactlyFreeSpaceFitsAndOneMoreByteDoesNot) {
  Page p(64);
  p.man.AddItem(5);
  const std::vector<std::uint8_t> before = p.bytes;
  EXPECT_THROW(p.man.AddItem(p.man.FreeSpace() + 1), EPageFull);
  EXPECT_THROW(p.man.AddItem(-1), EPageFull);
  EXPECT_EQ(p.bytes, before);

  const int free = p.man.FreeSpace();
  std::uint8_t* item = p.man.AddItem(free);
  EXPECT_EQ(item, p.bytes.data() + 2 + 2 * 2);  // right behind the offset table
  EXPECT_EQ(p.man.ItemSize(1), free);
  EXPECT_THROW(p.man.AddItem(0), EPageFull);  // no room for another offset entry
}

TEST(PageManTest, CursorHelpersWriteLittleEndianAndMoveTheCursor) {
  std::vector<std::uint8_t> buf(32, 0xAA);
  std::uint8_t* w = buf.data();
  TPageMan::PutInt(w, -2);
  TPageMan::PutStr(w, std::string("ab\0c", 4));
  TPageMan::PutWideStr(w, u"A\u0416");
  TPageMan::PutStr(w, "");
  EXPECT_EQ(w, buf.data() + 4 + 4 + 4);
  const std::vector<std::uint8_t> expected = {0xFE, 0xFF, 0xFF, 0xFF, 'a',  'b', 0,
                                              'c',  0x41, 0x00, 0x16, 0x04, 0xAA};
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 13), expected);

  const std::uint8_t* r = buf.data();
  EXPECT_EQ(TPageMan::GetInt(r), -2);
  EXPECT_EQ(TPageMan::GetStr(r, 4), std::string("ab\0c", 4));
  EXPECT_EQ(TPageMan::GetWideStr(r, 2), u"A\u0416");
  EXPECT_EQ(r, buf.data() + 12);
  // Counts of 0 (and damaged negative counts) read nothing.
  EXPECT_EQ(TPageMan::GetStr(r, 0), "");
  EXPECT_EQ(TPageMan::GetStr(r, -5), "");
  EXPECT_EQ(TPageMan::GetWideStr(r, 0), u"");
  EXPECT_EQ(r, buf.data() + 12);
}

TEST(PageManTest, CheckedReaderAgreesOnSoundPages) {
  Page p(1024);
  for (int s : {100, 0, 3, 250}) p.man.AddItem(s);
  int count = 0;
  ASSERT_TRUE(p.man.CheckedItemCount(count));
  EXPECT_EQ(count, 4);
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* ptr = nullptr;
    int size = -1;
    ASSERT_TRUE(p.man.CheckedItem(i, ptr, size));
    EXPECT_EQ(ptr, p.man.ItemPtr(i));
    EXPECT_EQ(size, p.man.ItemSize(i));
  }
  const std::uint8_t* ptr = nullptr;
  int size = 0;
  EXPECT_FALSE(p.man.CheckedItem(-1, ptr, size));
  EXPECT_FALSE(p.man.CheckedItem(4, ptr, size));
}

TEST(PageManTest, CheckedReaderRefusesDamagedPages) {
  auto set16 = [](Page& p, int at, unsigned v) {
    p.bytes[at] = v & 0xFF;
    p.bytes[at + 1] = v >> 8;
  };
  const std::uint8_t* ptr = nullptr;
  int size = 0;
  int count = 0;
  {
    Page p(64);  // the offset table of 40 items would leave the page
    set16(p, 0, 40);
    EXPECT_FALSE(p.man.CheckedItemCount(count));
    EXPECT_FALSE(p.man.CheckedItem(0, ptr, size));
  }
  {
    Page p(64);  // item 0 starts inside the offset table
    set16(p, 0, 2);
    set16(p, 2, 60);
    set16(p, 4, 5);
    EXPECT_TRUE(p.man.CheckedItem(0, ptr, size));
    EXPECT_FALSE(p.man.CheckedItem(1, ptr, size));
  }
  {
    Page p(64);  // item 0 starts past the page; a stored 0 means 65536
    set16(p, 0, 1);
    set16(p, 2, 65);
    EXPECT_FALSE(p.man.CheckedItem(0, ptr, size));
    set16(p, 2, 0);
    EXPECT_FALSE(p.man.CheckedItem(0, ptr, size));
  }
  {
    Page p(64);  // item 1 would end below its start
    set16(p, 0, 2);
    set16(p, 2, 40);
    set16(p, 4, 50);
    EXPECT_TRUE(p.man.CheckedItem(0, ptr, size));
    EXPECT_FALSE(p.man.CheckedItem(1, ptr, size));
  }
  {
    Page p(64);
    p.man.PageSize = 70000;  // no 16-bit offset can address such a page
    EXPECT_FALSE(p.man.CheckedItemCount(count));
    p.man.PageSize = 1;
    EXPECT_FALSE(p.man.CheckedItemCount(count));
    p.man.Page = nullptr;
    p.man.PageSize = 64;
    EXPECT_FALSE(p.man.CheckedItemCount(count));
  }
}

TEST(PageManTest, CheckedReaderKeepsRandomPagesInBounds) {
  // Whatever the bytes, an accepted item lies between the offset table and
  // the page end.
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    const std::uint32_t size = 4 + rng() % 60;
    Page p(size);
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() % 8 : rng());
    int count = 0;
    if (!p.man.CheckedItemCount(count)) continue;
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* ptr = nullptr;
      int n = 0;
      if (!p.man.CheckedItem(i, ptr, n)) continue;
      ASSERT_GE(ptr, p.bytes.data() + 2 + 2 * count);
      ASSERT_GE(n, 0);
      ASSERT_LE(ptr + n, p.bytes.data() + size);
    }
  }
}

}  // namespace
}  // namespace vandrel
