// The published-once slots of descrambled granule copies.
#include "dictionary/granule_copies.h"

#include <utility>

namespace vandrel {

TGranuleCopies::TGranuleCopies(std::size_t count)
    : count_(count), slots_(std::make_unique<std::atomic<std::uint8_t*>[]>(count)) {
  for (std::size_t g = 0; g < count_; ++g) slots_[g].store(nullptr, std::memory_order_relaxed);
}

TGranuleCopies::~TGranuleCopies() { FreeAll(); }

TGranuleCopies::TGranuleCopies(TGranuleCopies&& other) noexcept
    : count_(std::exchange(other.count_, 0)), slots_(std::move(other.slots_)) {}

TGranuleCopies& TGranuleCopies::operator=(TGranuleCopies&& other) noexcept {
  if (this != &other) {
    FreeAll();
    count_ = std::exchange(other.count_, 0);
    slots_ = std::move(other.slots_);
  }
  return *this;
}

void TGranuleCopies::FreeAll() noexcept {
  for (std::size_t g = 0; g < count_; ++g) {
    // Nobody reads the slots any more: each copy is freed by the owner it
    // is handed back to.
    win::UniqueVirtualBlock(slots_[g].exchange(nullptr, std::memory_order_acquire));
  }
}

const std::uint8_t* TGranuleCopies::Publish(std::size_t g, win::UniqueVirtualBlock copy) {
  std::uint8_t* expected = nullptr;
  // Release: a reader that loads the pointer sees the finished copy.
  // Acquire: on failure, expected is a copy another thread finished.
  if (slots_[g].compare_exchange_strong(expected, copy.bytes(), std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
    return static_cast<std::uint8_t*>(copy.release());
  }
  return expected;  // copy goes with this scope
}

}  // namespace vandrel
