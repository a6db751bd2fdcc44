// TAllocMan: hands out zero-filled, page-aligned buffers of one size, cut
// one after another from 256 KiB blocks of committed private memory. The
// compiler builds every page of a dictionary in such buffers so that whole
// pages can be written straight from them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/unique_handle.h"

namespace vandrel {

class TAllocMan {
 public:
  static constexpr std::uint32_t kBlockSize = 262144;

  TAllocMan() = default;
  // Releases every block: all buffers handed out become invalid.
  ~TAllocMan();
  TAllocMan(const TAllocMan&) = delete;
  TAllocMan& operator=(const TAllocMan&) = delete;

  // size divides kBlockSize; call before the first Alloc.
  void SetBlockSize(std::uint32_t size);
  // A zero-filled buffer of the block size, valid until the manager is
  // destroyed. Raises the platform error when memory cannot be committed.
  std::uint8_t* Alloc();

  std::uint32_t BufferSize() const { return buffer_size_; }
  std::uint32_t Count() const { return count_; }

 private:
  std::vector<win::UniqueVirtualBlock> blocks_;
  std::uint32_t buffer_size_ = 0;
  std::uint32_t buffers_per_block_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace vandrel
