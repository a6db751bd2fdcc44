// The engine's memory: zero-filled blocks with a running byte total, and
// exhaustion reported as engine error 11016.
//
// API in brief:
//   void* p = EngineAllocMem(n);          // n zero bytes, or 11016
//   p = EngineReallocMem(p, m);           // bytes past the old size are zero
//   EngineFreeMem(p);                     // null is fine
//   EngineBytesHeld();                    // bytes of live blocks (tests read it)
//   TEngineBuffer buf(n);                 // owning RAII form: buf.data(), Resize()
#pragma once

#include <cstddef>
#include <cstdint>

namespace vandrel::engine {

void* EngineAllocMem(std::size_t size);
// p may be null (then as EngineAllocMem). The block keeps its first
// min(old, new) bytes; the rest is zero.
void* EngineReallocMem(void* p, std::size_t new_size);
void EngineFreeMem(void* p);
// The bytes currently held by engine blocks (sizes as asked for).
std::size_t EngineBytesHeld();
// The size the block was asked for.
std::size_t EngineBlockSize(const void* p);

// One engine block owned by the object; moves, never copies.
class TEngineBuffer {
 public:
  TEngineBuffer() = default;
  explicit TEngineBuffer(std::size_t size) : data_(EngineAllocMem(size)), size_(size) {}
  ~TEngineBuffer() { EngineFreeMem(data_); }
  TEngineBuffer(TEngineBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  TEngineBuffer& operator=(TEngineBuffer&& other) noexcept;
  TEngineBuffer(const TEngineBuffer&) = delete;
  TEngineBuffer& operator=(const TEngineBuffer&) = delete;

  std::uint8_t* data() { return static_cast<std::uint8_t*>(data_); }
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(data_); }
  std::size_t size() const { return size_; }
  // Keeps the first min(old, new) bytes; new bytes are zero.
  void Resize(std::size_t size);

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vandrel::engine
