// Little-endian and big-endian loads and stores of the integers and short
// texts that the data, index and BLOB files hold, on byte buffers the
// caller has already checked for length.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace vandrel::engine {

inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t LoadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadU32(p)); }
inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return LoadU32(p) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}
inline void StoreU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void StoreI32(std::uint8_t* p, std::int32_t v) {
  StoreU32(p, static_cast<std::uint32_t>(v));
}
inline void StoreU64(std::uint8_t* p, std::uint64_t v) {
  StoreU32(p, static_cast<std::uint32_t>(v));
  StoreU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void StoreBigEndian(std::uint8_t* p, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}
inline double LoadDouble(const std::uint8_t* p) {
  const std::uint64_t bits = LoadU64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
// Short texts: a length byte and up to capacity bytes after it.
// Returns the length stored.
inline std::size_t PutShortText(std::uint8_t* p, const std::string& text, std::size_t capacity) {
  const std::size_t n = text.size() < capacity ? text.size() : capacity;
  p[0] = static_cast<std::uint8_t>(n);
  std::memcpy(p + 1, text.data(), n);
  return n;
}
inline std::string GetShortText(const std::uint8_t* p, std::size_t capacity) {
  const std::size_t n = p[0] < capacity ? p[0] : capacity;
  return std::string(reinterpret_cast<const char*>(p + 1), n);
}
inline void StoreDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  StoreU64(p, bits);
}

}  // namespace vandrel::engine
