// The kernel object behind a file handle, and the byte locks through which
// opens of one file see each other across processes.
//
// Share-mode lock bytes of a regular file (shared open-file-description
// locks far beyond any real file size; they never touch the file's data):
//
//   offset            held by
//   kLockBase + 1..3  every open with read / write / delete access
//   kLockBase + 4..6  every open that does not share read / write / delete
//   kLockBase + 7     every mapping object of the file (its own open of the
//                     file, which its views keep)
//
// An open takes its locks first and then checks that nobody else denies what
// it asks for and nobody else uses what it denies; on a conflict it lets go
// of them again. Of two opens that race, the one that checks last always
// sees the other, so two conflicting opens never both succeed (both may
// fail under an exact race; the open then retries while the conflict is
// not visible any more). Only shared locks are used: they need only read
// access to the file.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/handle.h"
#include "platform/win_types.h"

namespace vandrel::win::detail {

constexpr off_t kLockBase = 0x7FFFFFFF00000000LL;
constexpr off_t kReadUseLock = kLockBase + 1;
constexpr off_t kWriteUseLock = kLockBase + 2;
constexpr off_t kDeleteUseLock = kLockBase + 3;
constexpr off_t kReadDenyLock = kLockBase + 4;
constexpr off_t kWriteDenyLock = kLockBase + 5;
constexpr off_t kDeleteDenyLock = kLockBase + 6;
constexpr off_t kMappedLock = kLockBase + 7;

// An open file. Owns its descriptor (and with it the open's share locks)
// until destroyed; a delete-on-close file is removed then, when its name
// still names it.
class FileObject : public KernelObject {
 public:
  FileObject(int fd, bool readable, bool writable, std::string path, bool delete_on_close)
      : fd_(fd),
        readable_(readable),
        writable_(writable),
        path_(std::move(path)),
        delete_on_close_(delete_on_close) {}
  ~FileObject() override;

  int fd() const { return fd_; }
  bool readable() const { return readable_; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  bool readable_;
  bool writable_;
  std::string path_;
  bool delete_on_close_;
};

}  // namespace vandrel::win::detail
