// Index pages in memory: the changed-bytes write-back of a page always
// leaves the stored form equal to the whole encoding, whatever happened to
// the page since it was last stored (inserts, erases, moves between pages,
// count and key changes, freeing and reuse as the other kind).
#include "engine/page.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace vandrel::engine {
namespace {

// The stored image of a page kept as a file would: whole encodings or the
// changed bytes (header and entry range) written over it.
struct StoredPage {
  std::array<std::uint8_t, kPageSize> image{};
  int partial = 0;
  int whole = 0;

  void Store(TPage& page) {
    std::array<std::uint8_t, kPageSize> out{};
    std::size_t begin = 0, end = 0;
    if (page.EncodeChanged(out.data(), &begin, &end)) {
      ASSERT_GE(begin, kPageHeaderSize);
      ASSERT_LE(begin, end);
      ASSERT_LE(end, kPageSize);
      std::copy(out.begin(), out.begin() + kPageHeaderSize, image.begin());
      std::copy(out.begin() + static_cast<std::ptrdiff_t>(begin),
                out.begin() + static_cast<std::ptrdiff_t>(end),
                image.begin() + static_cast<std::ptrdiff_t>(begin));
      ++partial;
    } else {
      page.Encode(image.data());
      ++whole;
    }
    page.MarkStored();
  }
};

std::vector<std::uint8_t> Key(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> k(n);
  for (auto& b : k) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : rng());
  return k;
}

void RandomEdits(const TPageFormat& format, unsigned seed) {
  std::mt19937 rng(seed);
  TPage page(format, 4096);
  TPage other(format, 8192);
  StoredPage stored;
  page.type = kPageLeaf;
  other.type = kPageLeaf;
  const std::size_t kl = format.key_length;
  for (int step = 0; step < 4000; ++step) {
    const std::size_t max = page.MaxEntries();
    const unsigned op = rng() % 100;
    if (op < 45 && page.count() < max) {
      const std::size_t i = page.count() == 0 ? 0 : rng() % (page.count() + 1);
      page.Insert(i, Key(rng, kl).data(), rng(), page.leaf() ? 0 : rng());
    } else if (op < 70 && page.count() > 0) {
      page.Erase(rng() % page.count());
    } else if (op < 78 && page.count() > 0) {
      const std::size_t i = rng() % page.count();
      page.SetValue(i, rng());
      if (!page.leaf()) page.SetCount(i, rng());
      if (rng() % 2 == 0) page.MutableKey(i)[rng() % kl] = static_cast<std::uint8_t>(rng());
    } else if (op < 84 && page.count() > 2) {
      // A split: the tail to the other page, or the head of the other back.
      other.Clear();
      other.type = page.type;
      page.MoveTail(page.count() / 2, other);
      if (rng() % 2 == 0) page.TakeHead(other, std::min(other.count(), max - page.count()));
    } else if (op < 87) {
      // Freed, then taken again, perhaps as the other kind.
      page.Clear();
      page.type = kPageRoot;
      if (rng() % 3 == 0) stored.Store(page);
      page.type = rng() % 2 == 0 ? kPageLeaf : kPageInterior;
    } else if (op < 90) {
      page.prev = rng();
      page.next = rng();
      page.type = page.leaf() ? (rng() % 2 == 0 ? kPageLeaf : kPageRootLeaf)
                              : (rng() % 2 == 0 ? kPageInterior : kPageRoot);
    }
    if (rng() % 4 == 0) {
      stored.Store(page);
      std::array<std::uint8_t, kPageSize> expected{};
      page.Encode(expected.data());
      ASSERT_EQ(stored.image, expected) << "seed " << seed << " step " << step;
    }
  }
  EXPECT_GT(stored.partial, 100);
  EXPECT_GT(stored.whole, 10);
}

TEST(PageWriteBack, ChangedBytesOverTheStoredFormGiveTheWholeEncoding) {
  // The update table's primary index, a long key, and the system index
  // (whose leaves hold more entries than the interior kind fits).
  for (const std::size_t kl : {52u, 300u, 5u}) {
    TPageFormat format;
    format.key_length = kl;
    format.field_part = kl;
    for (unsigned seed = 1; seed <= 3; ++seed) RandomEdits(format, seed * 100 + kl);
  }
}

TEST(PageWriteBack, ReadPagesWithBytesAfterTheirEntriesAreStoredWhole) {
  TPageFormat format;
  format.key_length = 52;
  format.field_part = 52;
  TPage page(format, 4096);
  page.type = kPageLeaf;
  const std::vector<std::uint8_t> key(52, 'k');
  page.Insert(0, key.data(), 7, 0);
  std::array<std::uint8_t, kPageSize> image{};
  page.Encode(image.data());
  TPage clean(format, 4096);
  ASSERT_TRUE(clean.Decode(image.data()));
  clean.SetValue(0, 8);
  std::array<std::uint8_t, kPageSize> out{};
  std::size_t begin = 0, end = 0;
  EXPECT_TRUE(clean.EncodeChanged(out.data(), &begin, &end));
  image[3000] = 1;  // damage after the entries: the next store clears it
  TPage damaged(format, 4096);
  ASSERT_TRUE(damaged.Decode(image.data()));
  damaged.SetValue(0, 8);
  EXPECT_FALSE(damaged.EncodeChanged(out.data(), &begin, &end));
}

}  // namespace
}  // namespace vandrel::engine
