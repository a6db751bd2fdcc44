// Named shared memory of the session namespace: one file NAME (mode 0600)
// per object in SharedMemoryDir() (runtime_dir.h: the namespace's shm/, or
// a private folder on /dev/shm when the namespace is on a disk), and this
// process's membership in it.
//
// Lifetime across processes rests on two byte locks of the object's file:
//
//   byte  lock                 held by
//   0     shared  "holder"     every open of the object (in any process)
//                              that still has a handle or a view
//   1     exclusive "gate"     a process while it decides whether the
//                              object is alive: joining it, or leaving it
//                              and removing the name when it was the last
//
// An object is alive while some open holds byte 0. Joining takes the gate,
// checks that the file is still linked and has a holder, and only then adds
// its own holder lock; leaving takes the gate, drops the holder lock and,
// when no holder remains, unlinks the name. A holder that dies loses its
// locks with it, so a file left behind by dead processes has no holder: it
// is stale, never opened, and removed by whoever meets it. A new object is
// built and initialised under a temporary name with its holder lock already
// taken, then published with one link(): an opener sees either no object or
// the finished one.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win::detail {

class SharedMemoryFile {
 public:
  using Initialiser = std::function<void(void* view, std::size_t size)>;

  // Creates the object NAME of the given size (zero-filled, then passed to
  // init when given) or, when a live object of that name exists, joins it
  // and sets *existed. Null with the last error set on failure.
  static std::unique_ptr<SharedMemoryFile> CreateOrOpen(const std::string& name, std::size_t size,
                                                        const Initialiser& init, bool* existed);
  // Joins a live object; null with ERROR_FILE_NOT_FOUND when there is none.
  static std::unique_ptr<SharedMemoryFile> Open(const std::string& name);
  // An object without a name, alive while this process holds it.
  static std::unique_ptr<SharedMemoryFile> CreateAnonymous(std::size_t size);

  // Leaves the object; the last holder anywhere removes its name.
  ~SharedMemoryFile();
  // Leaves every named object this process still holds, as the destructors
  // would (their views stay mapped until the process ends); runs when the
  // process ends normally, so that its buffers do not outlive it.
  static void LeaveAll();
  SharedMemoryFile(const SharedMemoryFile&) = delete;
  SharedMemoryFile& operator=(const SharedMemoryFile&) = delete;

  int fd() const { return fd_; }
  std::size_t size() const { return size_; }
  // The object's file (empty for an anonymous object).
  const std::string& path() const { return path_; }

 private:
  SharedMemoryFile(int fd, std::size_t size, std::string path);

  void Leave();

  int fd_;
  std::size_t size_;
  std::string path_;  // empty for an anonymous object
  bool left_ = false;
};

// Removes the objects of the namespace that no process holds any more (their
// holders ended without leaving: killed), and the folders on /dev/shm of
// this user's runtime directories that are gone, with their stale objects.
// Returns how many objects it removed.
std::size_t RemoveStaleSharedMemory();

// A shared-memory name must be a plain, non-empty file name that does not
// start with '.' (temporary files use that prefix).
bool ValidSharedMemoryName(const std::string& name);

}  // namespace vandrel::win::detail
