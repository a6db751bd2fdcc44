// Published-once copy slots: racing publishers agree on one copy, every
// other copy is freed at once, and the slots free what they keep.
#include "dictionary/granule_copies.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/mapping.h"

namespace vandrel {
namespace {

win::UniqueVirtualBlock NewBlock(std::uint8_t fill) {
  win::UniqueVirtualBlock block(
      win::VirtualAlloc(nullptr, 4096, win::MEM_RESERVE | win::MEM_COMMIT, win::PAGE_READWRITE));
  if (block) block.bytes()[0] = fill;
  return block;
}

bool Released(void* block) { return !win::VirtualFree(block, 0, win::MEM_RELEASE); }

TEST(GranuleCopiesTest, RacingPublishersAgreeOnTheFirstCopyAndTheOthersAreFreed) {
  constexpr int kThreads = 8;
  constexpr std::size_t kSlots = 4;
  std::vector<void*> offered(kThreads * kSlots);
  std::vector<const std::uint8_t*> got(kThreads * kSlots);
  {
    TGranuleCopies copies(kSlots);
    EXPECT_EQ(copies.Count(), kSlots);
    for (std::size_t g = 0; g < kSlots; ++g) EXPECT_EQ(copies.Get(g), nullptr);
    // Every block exists before the race, so no address is handed out twice.
    std::vector<win::UniqueVirtualBlock> blocks;
    for (int i = 0; i < kThreads * static_cast<int>(kSlots); ++i) {
      blocks.push_back(NewBlock(static_cast<std::uint8_t>(i)));
      ASSERT_TRUE(blocks.back());
      offered[i] = blocks.back().get();
    }
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready.load() < kThreads) {
        }
        for (std::size_t g = 0; g < kSlots; ++g) {
          const std::size_t i = t * kSlots + g;
          got[i] = copies.Publish(g, std::move(blocks[i]));
        }
      });
    }
    for (std::thread& thread : threads) thread.join();

    for (std::size_t g = 0; g < kSlots; ++g) {
      const std::uint8_t* kept = copies.Get(g);
      ASSERT_NE(kept, nullptr);
      int winners = 0;
      for (int t = 0; t < kThreads; ++t) {
        const std::size_t i = t * kSlots + g;
        EXPECT_EQ(got[i], kept) << "every publisher reads the stored copy";
        if (offered[i] == static_cast<const void*>(kept)) {
          ++winners;
          EXPECT_EQ(kept[0], static_cast<std::uint8_t>(i)) << "the copy keeps its bytes";
        } else {
          EXPECT_TRUE(Released(offered[i])) << "a copy that lost the race is freed";
        }
      }
      EXPECT_EQ(winners, 1);
    }
    // A slot filled once never changes.
    const std::uint8_t* first = copies.Get(0);
    win::UniqueVirtualBlock late = NewBlock(99);
    void* late_raw = late.get();
    EXPECT_EQ(copies.Publish(0, std::move(late)), first);
    EXPECT_TRUE(Released(late_raw));
    EXPECT_EQ(copies.Get(0), first);
  }
  // The slots went, and the copies they kept with them.
  std::size_t freed = 0;
  for (void* block : offered) freed += Released(block) ? 1 : 0;
  EXPECT_EQ(freed, offered.size());
}

TEST(GranuleCopiesTest, AMovedSetKeepsItsCopiesUntilItsLastOwnerGoes) {
  void* raw = nullptr;
  {
    TGranuleCopies moved;
    {
      TGranuleCopies target;
      EXPECT_EQ(target.Count(), 0u);
      {
        TGranuleCopies copies(2);
        win::UniqueVirtualBlock block = NewBlock(7);
        raw = block.get();
        copies.Publish(1, std::move(block));
        target = std::move(copies);
        EXPECT_EQ(copies.Count(), 0u);
      }
      ASSERT_EQ(target.Count(), 2u);
      EXPECT_EQ(target.Get(0), nullptr);
      EXPECT_EQ(static_cast<const void*>(target.Get(1)), raw);
      moved = TGranuleCopies(std::move(target));
    }
    ASSERT_EQ(static_cast<const void*>(moved.Get(1)), raw);
    EXPECT_EQ(moved.Get(1)[0], 7) << "the emptied owners freed nothing";
  }
  EXPECT_TRUE(Released(raw));
}

}  // namespace
}  // namespace vandrel
