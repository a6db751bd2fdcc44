// Creating, joining and leaving named shared-memory objects; the lock
// protocol is described in shared_memory.h.
#include "platform/shared_memory.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <vector>

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/runtime_dir.h"

namespace vandrel::win::detail {
namespace {

constexpr off_t kHolderByte = 0;
constexpr off_t kGateByte = 1;

// Bounded retries when other processes create and remove the same name at
// the same instant; each retry means another process made progress.
constexpr int kMaxRaces = 1000;

bool ShmDir(std::string* dir) {
  try {
    *dir = SharedMemoryDir();
    return true;
  } catch (const std::exception&) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
}

// Unlinks path when it still names the file described by st.
void RemoveIfSame(const std::string& path, const struct stat& st) {
  struct stat now {};
  if (lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
    unlink(path.c_str());
  }
}

enum class Joined { kYes, kAbsent, kError };

// Joins the live object at path: on kYes *fd holds the holder lock and *size
// is the object's size. A stale file is removed and reported as absent.
Joined Join(const std::string& path, int* fd, std::size_t* size) {
  for (int race = 0; race < kMaxRaces; ++race) {
    int f = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (f < 0) {
      if (errno == ENOENT) return Joined::kAbsent;
      SetLastErrorFromErrno();
      return Joined::kError;
    }
    Joined result = Joined::kError;
    bool retry = false;
    {
      ByteGate gate(f, kGateByte);
      struct stat st {};
      if (!gate.locked() || fstat(f, &st) != 0) {
        SetLastErrorFromErrno();
      } else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        SetLastError(ERROR_ACCESS_DENIED);
      } else if (st.st_nlink == 0) {
        retry = true;  // its last holder removed it while we waited at the gate
      } else if (OthersHoldByte(f, kHolderByte, LockKind::kExclusive)) {
        if (TryLockByte(f, kHolderByte, LockKind::kShared)) {
          *fd = f;
          *size = static_cast<std::size_t>(st.st_size);
          return Joined::kYes;  // the gate opens as it goes out of scope
        }
        SetLastErrorFromErrno();
      } else {
        RemoveIfSame(path, st);  // stale: every holder is gone
        result = Joined::kAbsent;
      }
    }
    close(f);
    if (!retry) return result;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return Joined::kError;
}

// Reserves the object's pages up front, as committed memory is: a full
// namespace file system fails the creation instead of a later write.
bool SizeFile(int fd, std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<off_t>::max())) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  int rc = posix_fallocate(fd, 0, static_cast<off_t>(size));
  if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
    SetLastError(ErrorFromErrno(rc));
    return false;
  }
  return true;
}

bool Initialise(int fd, std::size_t size, const SharedMemoryFile::Initialiser& init) {
  if (!init) return true;
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    SetLastErrorFromErrno();
    return false;
  }
  init(view, size);
  munmap(view, size);
  return true;
}

// A new, unpublished object under a temporary name in dir, sized,
// initialised and already held by this process.
int CreateTemporary(const std::string& dir, std::size_t size,
                    const SharedMemoryFile::Initialiser& init, std::string* temp_path) {
  static std::atomic<unsigned> sequence{0};
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    *temp_path = dir + "/.tmp-" + std::to_string(getpid()) + "-" + std::to_string(sequence++);
    int fd = open(temp_path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // left by a dead process with our pid
      SetLastErrorFromErrno();
      return -1;
    }
    if (SizeFile(fd, size) && TryLockByte(fd, kHolderByte, LockKind::kShared) &&
        Initialise(fd, size, init)) {
      return fd;
    }
    DWORD error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ErrorFromErrno(errno);
    unlink(temp_path->c_str());
    close(fd);
    SetLastError(error);
    return -1;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return -1;
}

}  // namespace

bool ValidSharedMemoryName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name[0] == '.') return false;
  for (char c : name) {
    if (c == '/' || c == '\0') return false;
  }
  return true;
}

std::unique_ptr<SharedMemoryFile> SharedMemoryFile::CreateOrOpen(const std::string& name,
                                                                 std::size_t size,
                                                                 const Initialiser& init,
                                                                 bool* existed) {
  *existed = false;
  if (!ValidSharedMemoryName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::string dir;
  if (!ShmDir(&dir)) return nullptr;
  std::string path = dir + "/" + name;
  int temp_fd = -1;
  std::string temp_path;
  auto discard_temp = [&] {
    if (temp_fd >= 0) {
      unlink(temp_path.c_str());
      close(temp_fd);
      temp_fd = -1;
    }
  };
  for (int race = 0; race < kMaxRaces; ++race) {
    int fd = -1;
    std::size_t existing_size = 0;
    switch (Join(path, &fd, &existing_size)) {
      case Joined::kYes:
        discard_temp();
        *existed = true;
        return std::unique_ptr<SharedMemoryFile>(new SharedMemoryFile(fd, existing_size, path));
      case Joined::kError:
        discard_temp();
        return nullptr;
      case Joined::kAbsent:
        break;
    }
    if (temp_fd < 0) {
      SetLastError(ERROR_SUCCESS);
      temp_fd = CreateTemporary(dir, size, init, &temp_path);
      if (temp_fd < 0) return nullptr;
    }
    if (link(temp_path.c_str(), path.c_str()) == 0) {
      unlink(temp_path.c_str());
      int published = temp_fd;
      temp_fd = -1;
      return std::unique_ptr<SharedMemoryFile>(new SharedMemoryFile(published, size, path));
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno();
      discard_temp();
      return nullptr;
    }
    // Another process published the name first (or a stale file is in the
    // way): join or clear it on the next round.
  }
  discard_temp();
  SetLastError(ERROR_SHARING_VIOLATION);
  return nullptr;
}

std::unique_ptr<SharedMemoryFile> SharedMemoryFile::Open(const std::string& name) {
  if (!ValidSharedMemoryName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::string dir;
  if (!ShmDir(&dir)) return nullptr;
  std::string path = dir + "/" + name;
  int fd = -1;
  std::size_t size = 0;
  switch (Join(path, &fd, &size)) {
    case Joined::kYes:
      return std::unique_ptr<SharedMemoryFile>(new SharedMemoryFile(fd, size, path));
    case Joined::kAbsent:
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    case Joined::kError:
      break;
  }
  return nullptr;
}

std::unique_ptr<SharedMemoryFile> SharedMemoryFile::CreateAnonymous(std::size_t size) {
  int fd = memfd_create("vandrel-shm", MFD_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  if (!SizeFile(fd, size)) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<SharedMemoryFile>(new SharedMemoryFile(fd, size, std::string()));
}

namespace {

// The named objects this process holds, left at a normal exit.
struct LiveObjects {
  std::mutex lock;
  std::set<SharedMemoryFile*> objects;
};
LiveObjects& Live() {
  static LiveObjects* live = new LiveObjects;  // never destroyed: used during exit
  return *live;
}

}  // namespace

SharedMemoryFile::SharedMemoryFile(int fd, std::size_t size, std::string path)
    : fd_(fd), size_(size), path_(std::move(path)) {
  if (path_.empty()) return;
  static std::once_flag once;
  std::call_once(once, [] { std::atexit(&SharedMemoryFile::LeaveAll); });
  LiveObjects& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  live.objects.insert(this);
}

void SharedMemoryFile::Leave() {
  if (path_.empty() || left_) return;
  left_ = true;
  ByteGate gate(fd_, kGateByte);
  UnlockByte(fd_, kHolderByte);
  struct stat st {};
  if (gate.locked() && !OthersHoldByte(fd_, kHolderByte, LockKind::kExclusive) &&
      fstat(fd_, &st) == 0 && st.st_nlink > 0) {
    RemoveIfSame(path_, st);
  }
}

void SharedMemoryFile::LeaveAll() {
  LiveObjects& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  for (SharedMemoryFile* object : live.objects) object->Leave();
}

SharedMemoryFile::~SharedMemoryFile() {
  if (!path_.empty()) {
    LiveObjects& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    live.objects.erase(this);
    Leave();
  }
  close(fd_);
}

namespace {

// Removes the objects of the folder dir that no process holds any more and
// the temporary files of ended processes; returns how many objects it
// removed. Names starting with '.' other than temporary files (the
// folder's ".runtime") are not objects.
std::size_t RemoveStaleIn(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (name.rfind(".tmp-", 0) == 0) {
      // Being built by a living process, or left by a dead one.
      const long pid = std::atol(name.c_str() + 5);
      if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
      unlinkat(dirfd(d), name.c_str(), 0);
      continue;
    }
    if (name[0] == '.') continue;
    names.push_back(name);
  }
  closedir(d);
  std::size_t removed = 0;
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    int f = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (f < 0) continue;
    {
      ByteGate gate(f, kGateByte);
      struct stat st {};
      if (gate.locked() && fstat(f, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 0 &&
          !OthersHoldByte(f, kHolderByte, LockKind::kExclusive)) {
        RemoveIfSame(path, st);
        ++removed;
      }
    }
    close(f);
  }
  return removed;
}

// The folders on /dev/shm of this user's runtime directories that are gone
// (runtime_dir.h): their stale objects are removed, and the folder with
// them when nothing else is left in it.
std::size_t RemoveOrphanedFolders() {
  const std::string prefix = "vandrel-" + std::to_string(geteuid()) + "-";
  DIR* d = opendir(kSharedMemoryRoot);
  if (d == nullptr) return 0;
  std::vector<std::string> folders;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0) folders.push_back(std::string(kSharedMemoryRoot) + "/" + name);
  }
  closedir(d);
  std::size_t removed = 0;
  for (const std::string& folder : folders) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    std::ifstream marker(folder + "/" + kRuntimeMarker);
    std::string runtime;
    unsigned long long dev = 0, ino = 0;
    if (!std::getline(marker, runtime) || !(marker >> dev >> ino)) continue;
    struct stat now {};
    if (lstat(runtime.c_str(), &now) == 0 && now.st_dev == dev && now.st_ino == ino) continue;
    removed += RemoveStaleIn(folder);
    // Only the marker left: the folder goes. A process still holding an
    // object keeps it (rmdir fails on a folder that is not empty).
    DIR* f = opendir(folder.c_str());
    if (f == nullptr) continue;
    std::size_t others = 0;
    while (dirent* e = readdir(f)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name != kRuntimeMarker) ++others;
    }
    closedir(f);
    if (others == 0) {
      unlink((folder + "/" + kRuntimeMarker).c_str());
      rmdir(folder.c_str());
    }
  }
  return removed;
}

}  // namespace

std::size_t RemoveStaleSharedMemory() {
  std::size_t removed = RemoveOrphanedFolders();
  std::string dir;
  if (ShmDir(&dir)) removed += RemoveStaleIn(dir);
  return removed;
}

}  // namespace vandrel::win::detail
