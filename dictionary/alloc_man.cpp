// The compiler's page buffer allocator.
#include "dictionary/alloc_man.h"

#include <utility>

#include "platform/exceptions.h"
#include "platform/mapping.h"

namespace vandrel {

TAllocMan::~TAllocMan() = default;

void TAllocMan::SetBlockSize(std::uint32_t size) {
  buffer_size_ = size;
  buffers_per_block_ = size ? kBlockSize / size : 0;
}

std::uint8_t* TAllocMan::Alloc() {
  if (buffers_per_block_ == 0)
    throw Exception("Invalid buffer size " + std::to_string(buffer_size_));
  if (count_ % buffers_per_block_ == 0) {
    win::UniqueVirtualBlock block(win::VirtualAlloc(
        nullptr, kBlockSize, win::MEM_RESERVE | win::MEM_COMMIT, win::PAGE_READWRITE));
    if (!block) RaiseLastOSError();
    blocks_.push_back(std::move(block));
  }
  std::uint8_t* result =
      blocks_[count_ / buffers_per_block_].bytes() + (count_ % buffers_per_block_) * buffer_size_;
  ++count_;
  return result;
}

}  // namespace vandrel
