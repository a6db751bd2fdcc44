// Zero-filled engine blocks. Each block carries its asked size in a 16-byte
// prefix so that the byte total stays exact across reallocations.
#include "engine/allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/engine_error.h"

namespace vandrel::engine {
namespace {

constexpr std::size_t kPrefix = 16;
std::atomic<std::size_t> g_bytes_held{0};

std::size_t& SizeOf(void* block) { return *static_cast<std::size_t*>(block); }

}  // namespace

void* EngineAllocMem(std::size_t size) {
  if (size > std::numeric_limits<std::size_t>::max() - kPrefix) RaiseEngineError(kOutOfMemory);
  void* block = std::calloc(1, size + kPrefix);
  if (block == nullptr) RaiseEngineError(kOutOfMemory);
  SizeOf(block) = size;
  g_bytes_held += size;
  return static_cast<char*>(block) + kPrefix;
}

void* EngineReallocMem(void* p, std::size_t new_size) {
  if (p == nullptr) return EngineAllocMem(new_size);
  if (new_size > std::numeric_limits<std::size_t>::max() - kPrefix) {
    RaiseEngineError(kOutOfMemory);
  }
  void* block = static_cast<char*>(p) - kPrefix;
  std::size_t old_size = SizeOf(block);
  void* grown = std::realloc(block, new_size + kPrefix);
  if (grown == nullptr) RaiseEngineError(kOutOfMemory);  // the old block stays valid
  if (new_size > old_size) {
    std::memset(static_cast<char*>(grown) + kPrefix + old_size, 0, new_size - old_size);
  }
  SizeOf(grown) = new_size;
  g_bytes_held += new_size;
  g_bytes_held -= old_size;
  return static_cast<char*>(grown) + kPrefix;
}

void EngineFreeMem(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - kPrefix;
  g_bytes_held -= SizeOf(block);
  std::free(block);
}

std::size_t EngineBytesHeld() { return g_bytes_held.load(); }

std::size_t EngineBlockSize(const void* p) {
  if (p == nullptr) return 0;
  return *reinterpret_cast<const std::size_t*>(static_cast<const char*>(p) - kPrefix);
}

TEngineBuffer& TEngineBuffer::operator=(TEngineBuffer&& other) noexcept {
  if (this != &other) {
    EngineFreeMem(data_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void TEngineBuffer::Resize(std::size_t size) {
  data_ = EngineReallocMem(data_, size);
  size_ = size;
}

}  // namespace vandrel::engine
