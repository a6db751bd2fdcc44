// TAbstractFile, the engine's file object (name, open handles with their
// positions, in-process byte-range locks, size), and TMemoryFile, a file
// held in one engine memory block.
//
// API in brief (what TFileList and TFileHandler call):
//   CreateFile() / OpenFile() -> handle number (> 0), or a negated engine code
//   Read / Write (handle, buffer, count) -> bytes moved at the handle's
//     position, -1 with win::GetLastError() on failure. A count of 0 moves
//     nothing: truncation is Truncate(handle), which ends the file at the
//     handle's position.
//   Seek(handle, offset, origin 0 begin / 1 current / 2 end: size + offset)
//     -> new position, -1 with ERROR_NEGATIVE_SEEK when below 0
//   LockRange / UnlockRange: the in-process lock list; a range overlapping a
//     held one fails at once (every holder is on the engine's thread).
//
// Handle numbers are unique and increasing for the life of the object, so a
// closed number is never given to a new handle.
//
// The engine runs on the service's main thread only; these objects have no
// locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/allocator.h"

namespace vandrel::engine {

class TAbstractFile {
 public:
  struct Flags {
    bool exclusive = false;      // opened without sharing
    bool read_only = false;      // the stored file is read-only
    bool temporary = false;      // deleted when its last handle closes
    bool write_through = false;  // writes reach the disk before they return
    bool sequential = false;     // else random access
  };

  explicit TAbstractFile(std::string name) : name_(std::move(name)) {}
  virtual ~TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  const std::string& Name() const { return name_; }
  Flags& flags() { return flags_; }
  const Flags& flags() const { return flags_; }
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  bool HasHandle(int handle) const { return FindHandle(handle) >= 0; }
  virtual bool InMemory() const = 0;

  // Index of the handle in the list, -1 when it is not open.
  int FindHandle(int handle) const;

  virtual int CreateFile();
  virtual int OpenFile();
  // 0, or -11010 for a handle that is not open.
  virtual int CloseHandle(int handle);
  virtual int Rename(const std::string& new_name);
  // 0 or a negated engine code.
  virtual int DeleteFile() = 0;

  std::int64_t Read(int handle, void* buffer, std::int64_t count);
  std::int64_t Write(int handle, const void* buffer, std::int64_t count);
  int Truncate(int handle);
  std::int64_t Seek(int handle, std::int64_t offset, int origin);
  std::int64_t Position(int handle) const;
  virtual std::int64_t Size() const = 0;
  // Writes buffered bytes to the disk; true when done (or nothing to do).
  virtual bool Flush() { return true; }

  bool LockRange(std::int64_t offset, std::int64_t length);
  bool UnlockRange(std::int64_t offset, std::int64_t length);

 protected:
  // Transfers at an absolute position. ReadAt returns the bytes copied (0 at
  // or past the end), WriteAt the bytes written (fewer, with the last error
  // set, when the storage refused), SetSize 0 or -1.
  virtual std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) = 0;
  virtual std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) = 0;
  virtual int SetSize(std::int64_t size) = 0;
  // Appends a handle at position 0 and returns its number.
  int AddHandle();

  std::string name_;
  Flags flags_;

 private:
  struct Handle {
    int number = 0;
    std::int64_t position = 0;
  };
  struct LockEntry {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t length = 0;
  };
  std::vector<Handle> handles_;
  std::vector<LockEntry> locks_;
  int next_handle_ = 1;
};

// A file held in memory (in-memory tables). Its block grows in steps of
// 65535 bytes; creating it empties it.
class TMemoryFile : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;
  bool InMemory() const override { return true; }
  int CreateFile() override;
  int DeleteFile() override;
  std::int64_t Size() const override { return size_; }

 protected:
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) override;
  std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) override;
  int SetSize(std::int64_t size) override;

 private:
  static constexpr std::size_t kGrowStep = 65535;
  TEngineBuffer block_;
  std::int64_t size_ = 0;
};

}  // namespace vandrel::engine
