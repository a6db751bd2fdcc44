// Open-file-description byte locks (F_OFD_SETLK and friends).
#include "platform/file_lock.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace vandrel::win::detail {
namespace {

struct flock OneByte(off_t offset, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  lock.l_pid = 0;  // required for open-file-description locks
  return lock;
}

short TypeOf(LockKind kind) { return kind == LockKind::kShared ? F_RDLCK : F_WRLCK; }

}  // namespace

bool TryLockByte(int fd, off_t offset, LockKind kind) {
  struct flock lock = OneByte(offset, TypeOf(kind));
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno == EACCES) errno = EAGAIN;
  return false;
}

bool LockByte(int fd, off_t offset, LockKind kind) {
  for (;;) {
    struct flock lock = OneByte(offset, TypeOf(kind));
    if (fcntl(fd, F_OFD_SETLKW, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool LockByteWithin(int fd, off_t offset, LockKind kind, int timeout_ms) {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  long pause_us = 20;
  for (;;) {
    if (TryLockByte(fd, offset, kind)) return true;
    if (errno != EAGAIN) return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long waited_ms =
        (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (waited_ms >= timeout_ms) {
      errno = ETIMEDOUT;
      return false;
    }
    usleep(static_cast<useconds_t>(pause_us));
    pause_us = pause_us < 2000 ? pause_us * 2 : 2000;
  }
}

void UnlockByte(int fd, off_t offset) {
  struct flock lock = OneByte(offset, F_UNLCK);
  fcntl(fd, F_OFD_SETLK, &lock);
}

bool OthersHoldByte(int fd, off_t offset, LockKind kind) {
  struct flock lock = OneByte(offset, TypeOf(kind));
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

ByteGate::ByteGate(int fd, off_t offset)
    : fd_(fd),
      offset_(offset),
      locked_(LockByteWithin(fd, offset, LockKind::kExclusive, kGateTimeoutMs)) {}

ByteGate::~ByteGate() {
  if (locked_) UnlockByte(fd_, offset_);
}

}  // namespace vandrel::win::detail
