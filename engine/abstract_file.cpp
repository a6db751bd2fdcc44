// Handle bookkeeping, positions and the in-process lock list of engine file
// objects, and the memory file.
#include "engine/abstract_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/engine_error.h"
#include "engine/io_faults.h"
#include "platform/error.h"

namespace vandrel::engine {

int TAbstractFile::FindHandle(int handle) const {
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    if (handles_[i].number == handle) return static_cast<int>(i);
  }
  return -1;
}

int TAbstractFile::AddHandle() {
  int number = next_handle_++;
  handles_.push_back(Handle{number, 0});
  return number;
}

int TAbstractFile::CreateFile() {
  if (SetSize(0) != 0) return -EngineCodeFromOsError(win::GetLastError());
  return AddHandle();
}

int TAbstractFile::OpenFile() { return AddHandle(); }

int TAbstractFile::CloseHandle(int handle) {
  int i = FindHandle(handle);
  if (i < 0) return -kInvalidPath;
  handles_.erase(handles_.begin() + i);
  return 0;
}

int TAbstractFile::Rename(const std::string& new_name) {
  name_ = new_name;
  return 0;
}

std::int64_t TAbstractFile::Position(int handle) const {
  int i = FindHandle(handle);
  return i < 0 ? -1 : handles_[i].position;
}

std::int64_t TAbstractFile::Read(int handle, void* buffer, std::int64_t count) {
  int i = FindHandle(handle);
  if (i < 0 || count < 0) {
    win::SetLastError(i < 0 ? win::ERROR_INVALID_HANDLE : win::ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::int64_t position = handles_[i].position;
  std::int64_t size = Size();
  if (count == 0 || position < 0 || position >= size) return 0;
  std::int64_t n = ReadAt(position, buffer, std::min(count, size - position));
  if (n > 0) handles_[i].position = position + n;
  return n;
}

std::int64_t TAbstractFile::Write(int handle, const void* buffer, std::int64_t count) {
  int i = FindHandle(handle);
  if (i < 0 || count < 0) {
    win::SetLastError(i < 0 ? win::ERROR_INVALID_HANDLE : win::ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (count == 0) return 0;
  std::int64_t position = handles_[i].position;
  if (flags_.read_only) {
    win::SetLastError(win::ERROR_ACCESS_DENIED);
    return -1;
  }
  if (position < 0 || count > std::numeric_limits<std::int64_t>::max() - position) {
    win::SetLastError(win::ERROR_NEGATIVE_SEEK);
    return -1;
  }
  bool torn = false;
  if (TIoFaults::Hit(position + count > Size() ? kIoGrow : kIoWrite, &torn)) {
    // An injected failure: nothing written, or the first half.
    const std::int64_t half = torn ? WriteAt(position, buffer, count / 2) : 0;
    if (half > 0) handles_[i].position = position + half;
    win::SetLastError(win::ERROR_WRITE_FAULT);
    return std::max<std::int64_t>(half, 0);
  }
  std::int64_t n = WriteAt(position, buffer, count);
  if (n > 0) handles_[i].position = position + n;
  return n;
}

int TAbstractFile::Truncate(int handle) {
  int i = FindHandle(handle);
  if (i < 0) {
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return -1;
  }
  if (flags_.read_only) {
    win::SetLastError(win::ERROR_ACCESS_DENIED);
    return -1;
  }
  if (TIoFaults::Hit(handles_[i].position > Size() ? kIoGrow : kIoTruncate)) {
    win::SetLastError(win::ERROR_WRITE_FAULT);
    return -1;
  }
  return SetSize(handles_[i].position);
}

std::int64_t TAbstractFile::Seek(int handle, std::int64_t offset, int origin) {
  int i = FindHandle(handle);
  if (i < 0) {
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return -1;
  }
  std::int64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = handles_[i].position;
      break;
    case 2:
      base = Size();
      break;
    default:
      return handles_[i].position;
  }
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
      base + offset < 0) {
    win::SetLastError(win::ERROR_NEGATIVE_SEEK);
    return -1;
  }
  handles_[i].position = base + offset;
  return handles_[i].position;
}

bool TAbstractFile::LockRange(std::int64_t offset, std::int64_t length) {
  if (length <= 0 || offset < 0 || offset > std::numeric_limits<std::int64_t>::max() - length) {
    return false;
  }
  std::int64_t last = offset + length - 1;
  for (const LockEntry& l : locks_) {
    if (offset <= l.last && l.first <= last) return false;
  }
  locks_.push_back(LockEntry{offset, last, length});
  return true;
}

bool TAbstractFile::UnlockRange(std::int64_t offset, std::int64_t length) {
  for (auto it = locks_.begin(); it != locks_.end(); ++it) {
    if (it->first == offset && it->length == length) {
      locks_.erase(it);
      return true;
    }
  }
  return false;
}

// ---- TMemoryFile ----

int TMemoryFile::CreateFile() {
  block_ = TEngineBuffer();
  size_ = 0;
  return TAbstractFile::CreateFile();
}

int TMemoryFile::DeleteFile() {
  block_ = TEngineBuffer();
  size_ = 0;
  return 0;
}

std::int64_t TMemoryFile::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  std::memcpy(buffer, block_.data() + position, static_cast<std::size_t>(count));
  return count;
}

std::int64_t TMemoryFile::WriteAt(std::int64_t position, const void* buffer, std::int64_t count) {
  std::int64_t end = position + count;
  if (static_cast<std::uint64_t>(end) > block_.size()) {
    // Geometric growth (half the size again, in whole steps): appending n
    // bytes copies O(n) bytes in all.
    const std::uint64_t wanted =
        std::max<std::uint64_t>(static_cast<std::uint64_t>(end), block_.size() + block_.size() / 2);
    const auto whole = [](std::uint64_t n) {
      return static_cast<std::size_t>((n + kGrowStep - 1) / kGrowStep * kGrowStep);
    };
    try {
      try {
        block_.Resize(whole(wanted));
      } catch (const EEngineError&) {
        block_.Resize(whole(static_cast<std::uint64_t>(end)));  // just what the write needs
      }
    } catch (const EEngineError&) {
      win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
  }
  std::memcpy(block_.data() + position, buffer, static_cast<std::size_t>(count));
  size_ = std::max(size_, end);
  return count;
}

int TMemoryFile::SetSize(std::int64_t size) {
  if (size > size_) {
    std::int64_t gap = size - size_;
    std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min<std::int64_t>(gap, 65536)));
    std::int64_t at = size_;
    while (at < size) {
      std::int64_t n = std::min<std::int64_t>(size - at, static_cast<std::int64_t>(zeros.size()));
      if (WriteAt(at, zeros.data(), n) != n) return -1;
      at += n;
    }
    return 0;
  }
  size_ = size;
  // Bytes past the end read as zero when the file grows again.
  if (static_cast<std::size_t>(size) < block_.size()) {
    std::memset(block_.data() + size, 0, block_.size() - static_cast<std::size_t>(size));
  }
  return 0;
}

}  // namespace vandrel::engine
