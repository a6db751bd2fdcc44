// Owning wrappers of the platform's handles: each closes what it holds when
// it goes, moves but never copies, and says in its type who frees what.
//
//   UniqueHandle  a kernel-object handle (file, file mapping, ...), closed
//                 with CloseHandle
//   UniqueView    a view of a file mapping (MapViewOfFile), unmapped with
//                 UnmapViewOfFile
//   UniqueFd      a POSIX file descriptor (socket, ...), closed with close
//   UniqueStdFile a C stream (fopen), closed with fclose
//   UniqueVirtualBlock
//                 a range of private memory (VirtualAlloc with MEM_RESERVE),
//                 released with VirtualFree(..., MEM_RELEASE)
//
// Code above platform/ holds these and never calls the closers itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/win_types.h"

namespace vandrel::win {

// Frees the value a wrapper holds; Traits gives Invalid(), IsValid(value)
// and Free(value), which tells whether the value was freed.
template <class Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return valid(); }
  // Gives the value up without freeing it.
  Value release() { return std::exchange(value_, Traits::Invalid()); }
  // Frees the held value (if any) and holds value instead.
  void reset(Value value = Traits::Invalid()) {
    const Value old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Free(old);
  }
  // Frees the held value now and tells whether that worked (last error set
  // when not), for a caller that must report a failed close - a file whose
  // last writes may be lost. Empty afterwards either way; true when empty.
  bool close() {
    const Value old = release();
    return !Traits::IsValid(old) || Traits::Free(old);
  }

 private:
  Value value_ = Traits::Invalid();
};

struct HandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  // Both "no handle" values of the API: null and INVALID_HANDLE_VALUE.
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Free(HANDLE h);
};

struct ViewTraits {
  using Value = void*;
  static void* Invalid() { return nullptr; }
  static bool IsValid(void* v) { return v != nullptr; }
  static bool Free(void* v);
};

struct VirtualBlockTraits {
  using Value = void*;
  static void* Invalid() { return nullptr; }
  static bool IsValid(void* v) { return v != nullptr; }
  static bool Free(void* v);
};

struct FdTraits {
  using Value = int;
  static int Invalid() { return -1; }
  static bool IsValid(int fd) { return fd >= 0; }
  static bool Free(int fd);
};

struct StdFileTraits {
  using Value = std::FILE*;
  static std::FILE* Invalid() { return nullptr; }
  static bool IsValid(std::FILE* f) { return f != nullptr; }
  static bool Free(std::FILE* f);
};

// A kernel-object handle. Holds null when empty; INVALID_HANDLE_VALUE taken
// in counts as empty too.
using UniqueHandle = UniqueResource<HandleTraits>;

// A mapped view, with typed access to its bytes.
class UniqueView : public UniqueResource<ViewTraits> {
 public:
  using UniqueResource::UniqueResource;
  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(get()); }
  std::uint8_t* bytes() { return static_cast<std::uint8_t*>(get()); }
};

// A reserved range of private memory, with typed access to its bytes.
class UniqueVirtualBlock : public UniqueResource<VirtualBlockTraits> {
 public:
  using UniqueResource::UniqueResource;
  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(get()); }
  std::uint8_t* bytes() { return static_cast<std::uint8_t*>(get()); }
};

// A file descriptor.
using UniqueFd = UniqueResource<FdTraits>;

// A C stream. close() tells whether its buffered writes reached the file.
using UniqueStdFile = UniqueResource<StdFileTraits>;

}  // namespace vandrel::win
