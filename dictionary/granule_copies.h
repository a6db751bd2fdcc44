// TGranuleCopies: the private, descrambled copies of a scrambled file's
// granules, one slot per granule. A slot is filled once and never changes
// afterwards; filling takes no lock, so any number of readers may fill and
// read at once: the first copy published in a slot stays, a later one is
// freed on the spot and its publisher gets the stored copy instead.
//
// Ownership: the slots own the copies they hold and release them all when
// they go; a copy not yet published is a UniqueVirtualBlock of its maker.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/unique_handle.h"

namespace vandrel {

class TGranuleCopies {
 public:
  TGranuleCopies() = default;
  // count empty slots.
  explicit TGranuleCopies(std::size_t count);
  ~TGranuleCopies();
  TGranuleCopies(TGranuleCopies&& other) noexcept;
  TGranuleCopies& operator=(TGranuleCopies&& other) noexcept;
  TGranuleCopies(const TGranuleCopies&) = delete;
  TGranuleCopies& operator=(const TGranuleCopies&) = delete;

  std::size_t Count() const { return count_; }
  // The copy in slot g, null while none is published.
  const std::uint8_t* Get(std::size_t g) const { return slots_[g].load(std::memory_order_acquire); }
  // Stores copy in slot g unless the slot holds one already, and returns
  // the slot's copy: copy itself, or the one stored first (copy is freed).
  const std::uint8_t* Publish(std::size_t g, win::UniqueVirtualBlock copy);

 private:
  void FreeAll() noexcept;

  std::size_t count_ = 0;
  std::unique_ptr<std::atomic<std::uint8_t*>[]> slots_;
};

}  // namespace vandrel
