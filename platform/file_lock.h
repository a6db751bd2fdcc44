// Byte locks owned by an open file description (not by a process): they
// stay while any descriptor or memory mapping of that open file exists and
// vanish when the last one goes, or when the owning process dies. The
// platform builds share modes and the lifetime of named shared memory on
// them. Locks of one open file never conflict with each other, so a process
// that opens a file twice sees its own other open like any other process.
#pragma once

#include <sys/types.h>

namespace vandrel::win::detail {

enum class LockKind { kShared, kExclusive };

// Takes a lock on one byte without waiting; false (errno EAGAIN) when another
// open file holds a conflicting one.
bool TryLockByte(int fd, off_t offset, LockKind kind);
// Takes a lock on one byte, waiting for conflicting holders to let go.
bool LockByte(int fd, off_t offset, LockKind kind);
// As LockByte, but gives up after timeout_ms (false, errno ETIMEDOUT).
bool LockByteWithin(int fd, off_t offset, LockKind kind, int timeout_ms);
void UnlockByte(int fd, off_t offset);
// True when another open file holds a lock on the byte that conflicts with
// a lock of the given kind (kExclusive: any lock at all).
bool OthersHoldByte(int fd, off_t offset, LockKind kind);

// Holds an exclusive lock on one byte for its lifetime: the short critical
// section in which a process decides, against every other process, whether
// an object is in use. Well-behaved holders keep it for microseconds; a
// process that keeps it longer (stopped, or hostile) is waited for at most
// kGateTimeoutMs, and the gate then stays closed (locked() false, errno
// ETIMEDOUT): what needed it fails instead of holding the caller.
constexpr int kGateTimeoutMs = 1000;
class ByteGate {
 public:
  ByteGate(int fd, off_t offset);
  ~ByteGate();
  ByteGate(const ByteGate&) = delete;
  ByteGate& operator=(const ByteGate&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  off_t offset_;
  bool locked_;
};

}  // namespace vandrel::win::detail
