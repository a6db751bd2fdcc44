// Opening, reading, writing, sizing, deleting and renaming files with Win32
// share modes across processes (the lock protocol is in file_object.h).
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/file_object.h"
#include "platform/handle.h"

namespace vandrel::win {
namespace {

using detail::FileObject;
using detail::LockKind;

// Bounded retries when another process deletes or replaces a file between
// our open and our lock; each retry means that process made progress.
constexpr int kMaxRaces = 100;

constexpr off_t kUseLock[3] = {detail::kReadUseLock, detail::kWriteUseLock, detail::kDeleteUseLock};
constexpr off_t kDenyLock[3] = {detail::kReadDenyLock, detail::kWriteDenyLock,
                                detail::kDeleteDenyLock};

// What an open uses and what it denies others: read, write, delete.
struct ShareRequest {
  bool use[3] = {false, false, false};
  bool deny[3] = {false, false, false};
};

bool Conflicts(int fd, const ShareRequest& r) {
  for (int i = 0; i < 3; ++i) {
    if (r.use[i] && detail::OthersHoldByte(fd, kDenyLock[i], LockKind::kExclusive)) return true;
    if (r.deny[i] && detail::OthersHoldByte(fd, kUseLock[i], LockKind::kExclusive)) return true;
  }
  return false;
}

void ReleaseShareLocks(int fd, const ShareRequest& r) {
  for (int i = 0; i < 3; ++i) {
    if (r.use[i]) detail::UnlockByte(fd, kUseLock[i]);
    if (r.deny[i]) detail::UnlockByte(fd, kDenyLock[i]);
  }
}

// Takes the open's share locks, then checks for conflicts; false (locks
// released) on a conflict. A descriptor without read access cannot hold
// shared locks: such an open takes part in no share checks.
bool TakeShareLocks(int fd, const ShareRequest& r) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    for (int i = 0; i < 3; ++i) {
      if ((r.use[i] && !detail::TryLockByte(fd, kUseLock[i], LockKind::kShared)) ||
          (r.deny[i] && !detail::TryLockByte(fd, kDenyLock[i], LockKind::kShared))) {
        if (errno == EBADF) return true;
      }
    }
    if (!Conflicts(fd, r)) return true;
    ReleaseShareLocks(fd, r);
    // Still visible without our own locks: a real conflict. Otherwise the
    // other open lost the same race and let go; try again.
    if (Conflicts(fd, r)) return false;
  }
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True while path still names the file open on fd.
bool StillNamed(int fd, const char* path) {
  struct stat mine {};
  struct stat named {};
  return fstat(fd, &mine) == 0 && lstat(path, &named) == 0 && SameFile(mine, named);
}

std::string ParentOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Win32 tells a missing file from a missing folder on its path.
DWORD PathError(int errno_value, const char* path) {
  if (errno_value == ENOENT) {
    struct stat st {};
    if (stat(ParentOf(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_FILE_NOT_FOUND;
  }
  return ErrorFromErrno(errno_value);
}

BOOL FailWith(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// An open of the file only for taking locks, or -1 when it cannot be read.
int OpenForLocks(const char* path) {
  return open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
}

// Holds delete access to an existing regular file for the lifetime of the
// object: the check that deleting or replacing it is allowed, and a lock
// that makes every later open that denies delete fail until we are done.
class DeleteAccess {
 public:
  explicit DeleteAccess(const char* path) : path_(path), fd_(OpenForLocks(path)) {
    if (fd_ >= 0) detail::TryLockByte(fd_, detail::kDeleteUseLock, LockKind::kShared);
  }
  ~DeleteAccess() {
    if (fd_ >= 0) close(fd_);
  }
  DeleteAccess(const DeleteAccess&) = delete;
  DeleteAccess& operator=(const DeleteAccess&) = delete;

  bool DeniedByAnOpen() const {
    return fd_ >= 0 && detail::OthersHoldByte(fd_, detail::kDeleteDenyLock, LockKind::kExclusive);
  }
  bool Mapped() const {
    return fd_ >= 0 && detail::OthersHoldByte(fd_, detail::kMappedLock, LockKind::kExclusive);
  }
  // False when the name was deleted or replaced since we opened it.
  bool StillNamed() const { return fd_ < 0 || vandrel::win::StillNamed(fd_, path_); }

 private:
  const char* path_;
  int fd_;
};

bool ReadOnlyMode(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

FileObject* FileOf(HANDLE handle) {
  auto* file = HandleAs<FileObject>(handle);
  if (file == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

}  // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* /*security*/,
                   DWORD disposition, DWORD flags, HANDLE /*template_file*/) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool delete_on_close = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  bool readable = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
  bool writable = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  bool deleting = (access & (DELETE | GENERIC_ALL)) != 0 || delete_on_close;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !writable)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  ShareRequest request;
  request.use[0] = readable;
  request.use[1] = writable;
  request.use[2] = deleting;
  request.deny[0] = (share_mode & FILE_SHARE_READ) == 0;
  request.deny[1] = (share_mode & FILE_SHARE_WRITE) == 0;
  request.deny[2] = (share_mode & FILE_SHARE_DELETE) == 0;

  // A write-only open still reads for its locks when it may.
  int base_flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if ((flags & FILE_FLAG_WRITE_THROUGH) != 0) base_flags |= O_DSYNC;
  int open_flags = base_flags | (writable ? O_RDWR : O_RDONLY);
  mode_t create_mode = (flags & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  bool may_create =
      disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;

  auto open_existing = [&]() {
    int fd = open(name, open_flags);
    if (fd < 0 && errno == EACCES && writable && !readable) {
      fd = open(name, base_flags | O_WRONLY);
    }
    return fd;
  };

  for (int race = 0; race < kMaxRaces; ++race) {
    bool created = false;
    int fd = -1;
    if (may_create) {
      fd = open(name, open_flags | O_CREAT | O_EXCL, create_mode);
      if (fd >= 0) {
        created = true;
      } else if (errno == EEXIST) {
        if (disposition == CREATE_NEW) {
          SetLastError(ERROR_FILE_EXISTS);
          return INVALID_HANDLE_VALUE;
        }
        fd = open_existing();
        if (fd < 0 && errno == ENOENT) continue;  // deleted in between: create it
      }
    } else {
      fd = open_existing();
    }
    if (fd < 0) {
      SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : PathError(errno, name));
      return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!created && writable && ReadOnlyMode(st))) {
      close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (!TakeShareLocks(fd, request)) {
      close(fd);
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    if (!created && !StillNamed(fd, name)) {
      close(fd);  // deleted or replaced before our locks were in place
      continue;
    }
    if (!created && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
        st.st_size > 0) {
      if (detail::OthersHoldByte(fd, detail::kMappedLock, LockKind::kExclusive)) {
        close(fd);
        SetLastError(ERROR_USER_MAPPED_FILE);
        return INVALID_HANDLE_VALUE;
      }
      if (ftruncate(fd, 0) != 0) {
        SetLastErrorFromErrno();
        close(fd);
        return INVALID_HANDLE_VALUE;
      }
    }
    int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    HANDLE handle =
        NewHandle(std::make_unique<FileObject>(fd, readable, writable, name, delete_on_close));
    bool existed = !created && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read_bytes, void* overlapped) {
  if (read_bytes != nullptr) *read_bytes = 0;
  FileObject* f = FileOf(file);
  if (f == nullptr) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && to_read > 0)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (!f->readable()) return FailWith(ERROR_ACCESS_DENIED);
  DWORD total = 0;
  auto* p = static_cast<char*>(buffer);
  while (total < to_read) {
    ssize_t n = read(f->fd(), p + total, to_read - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read_bytes != nullptr) *read_bytes = total;
      SetLastErrorFromErrno();
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with fewer bytes
    total += static_cast<DWORD>(n);
  }
  if (read_bytes != nullptr) *read_bytes = total;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void* overlapped) {
  if (written != nullptr) *written = 0;
  FileObject* f = FileOf(file);
  if (f == nullptr) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && to_write > 0)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (!f->writable()) return FailWith(ERROR_ACCESS_DENIED);
  DWORD total = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (total < to_write) {
    ssize_t n = write(f->fd(), p + total, to_write - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written != nullptr) *written = total;
      if (n == 0) return FailWith(ERROR_DISK_FULL);
      SetLastErrorFromErrno();
      return FALSE;
    }
    total += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = total;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method) {
  FileObject* f = FileOf(file);
  if (f == nullptr) return INVALID_SET_FILE_POINTER;
  int whence = method == FILE_BEGIN     ? SEEK_SET
               : method == FILE_CURRENT ? SEEK_CUR
               : method == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t move = distance;
  if (distance_high != nullptr) {
    move = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distance_high)) << 32) |
        static_cast<std::uint32_t>(distance));
  }
  off_t old_position = lseek(f->fd(), 0, SEEK_CUR);
  off_t position = lseek(f->fd(), static_cast<off_t>(move), whence);
  if (position < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high == nullptr && position > static_cast<off_t>(0xFFFFFFFEu)) {
    // The new position does not fit the 32-bit answer: stay where we were.
    lseek(f->fd(), old_position, SEEK_SET);
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high != nullptr) {
    *distance_high = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  }
  SetLastError(ERROR_SUCCESS);  // a low part of 0xFFFFFFFF is then not an error
  return static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
}

BOOL SetEndOfFile(HANDLE file) {
  FileObject* f = FileOf(file);
  if (f == nullptr) return FALSE;
  if (!f->writable()) return FailWith(ERROR_ACCESS_DENIED);
  off_t position = lseek(f->fd(), 0, SEEK_CUR);
  struct stat st {};
  if (position < 0 || fstat(f->fd(), &st) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  // Cutting off mapped pages would fault whoever reads them.
  if (position < st.st_size &&
      detail::OthersHoldByte(f->fd(), detail::kMappedLock, LockKind::kExclusive)) {
    return FailWith(ERROR_USER_MAPPED_FILE);
  }
  if (ftruncate(f->fd(), position) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  FileObject* f = FileOf(file);
  if (f == nullptr) return INVALID_FILE_SIZE;
  struct stat st {};
  if (fstat(f->fd(), &st) != 0) {
    SetLastErrorFromErrno();
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL FlushFileBuffers(HANDLE file) {
  FileObject* f = FileOf(file);
  if (f == nullptr) return FALSE;
  if (!f->writable()) return FailWith(ERROR_ACCESS_DENIED);
  if (fsync(f->fd()) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(const char* name) {
  struct stat st {};
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(name, &st) != 0) {
    SetLastError(PathError(errno, name));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_ARCHIVE | (ReadOnlyMode(st) ? FILE_ATTRIBUTE_READONLY : 0);
}

BOOL DeleteFileA(const char* name) {
  if (name == nullptr || *name == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  for (int race = 0; race < kMaxRaces; ++race) {
    struct stat st {};
    if (lstat(name, &st) != 0) return FailWith(PathError(errno, name));
    if (S_ISDIR(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode)) {
      if (ReadOnlyMode(st)) return FailWith(ERROR_ACCESS_DENIED);
      DeleteAccess guard(name);
      if (guard.DeniedByAnOpen()) return FailWith(ERROR_SHARING_VIOLATION);
      if (guard.Mapped()) return FailWith(ERROR_ACCESS_DENIED);
      if (!guard.StillNamed()) continue;
      if (unlink(name) != 0) return FailWith(PathError(errno, name));
      return TRUE;
    }
    if (unlink(name) != 0) return FailWith(PathError(errno, name));
    return TRUE;
  }
  return FailWith(ERROR_SHARING_VIOLATION);
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
  if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  for (int race = 0; race < kMaxRaces; ++race) {
    struct stat source {};
    if (lstat(from, &source) != 0) return FailWith(PathError(errno, from));
    DeleteAccess source_access(from);
    if (S_ISREG(source.st_mode)) {
      if (source_access.DeniedByAnOpen()) return FailWith(ERROR_SHARING_VIOLATION);
      if (!source_access.StillNamed()) continue;
    }
    struct stat target {};
    bool target_exists = lstat(to, &target) == 0;
    if (target_exists && SameFile(source, target)) return TRUE;
    int rc = 0;
    if (target_exists) {
      if (!replace) return FailWith(ERROR_ALREADY_EXISTS);
      if (S_ISDIR(target.st_mode) || S_ISDIR(source.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
      if (S_ISREG(target.st_mode)) {
        if (ReadOnlyMode(target)) return FailWith(ERROR_ACCESS_DENIED);
        DeleteAccess target_access(to);
        if (target_access.DeniedByAnOpen() || target_access.Mapped()) {
          return FailWith(ERROR_ACCESS_DENIED);
        }
        if (!target_access.StillNamed()) continue;
        rc = rename(from, to);
      } else {
        rc = rename(from, to);
      }
    } else {
      // The target may appear meanwhile; never replace what was not checked.
      rc = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
      if (rc != 0 && errno == EEXIST) {
        if (!replace) return FailWith(ERROR_ALREADY_EXISTS);
        continue;
      }
    }
    if (rc != 0) {
      int err = errno;
      if (err == ENOENT) return FailWith(PathError(err, lstat(from, &source) != 0 ? from : to));
      if (err == ENOTEMPTY || err == EEXIST) return FailWith(ERROR_ACCESS_DENIED);
      return FailWith(ErrorFromErrno(err));
    }
    if ((flags & MOVEFILE_WRITE_THROUGH) != 0) {
      int dir = open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir >= 0) {
        fsync(dir);
        close(dir);
      }
    }
    return TRUE;
  }
  return FailWith(ERROR_SHARING_VIOLATION);
}

BOOL CreateDirectoryA(const char* name, void* /*security*/) {
  if (name == nullptr || *name == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  if (mkdir(name, 0777) != 0) {
    if (errno == ENOENT) return FailWith(ERROR_PATH_NOT_FOUND);
    return FailWith(ErrorFromErrno(errno));
  }
  return TRUE;
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || c == '\0') return false;
  }
  return true;
}

}  // namespace vandrel::win
