// Mapping objects (shared memory and files) and their views.
//
// A mapping handle and every view made from it share one MappingCore: the
// open file the pages come from. Closing the handle leaves the views (and
// with them the object) alive; the core goes with the last of them.
#include "platform/mapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/file_object.h"
#include "platform/handle.h"
#include "platform/shared_memory.h"

namespace vandrel::win {
namespace {

struct MappingCore {
  std::unique_ptr<detail::SharedMemoryFile> shared;  // shared memory
  int file_fd = -1;  // a file: the mapping's own open of it (holds kMappedLock)
  std::size_t size = 0;
  bool writable = false;  // PAGE_READWRITE: shared writable views allowed
  std::string file_path;  // a file: its path when the mapping was made

  MappingCore() = default;
  MappingCore(const MappingCore&) = delete;
  MappingCore& operator=(const MappingCore&) = delete;
  ~MappingCore() {
    if (file_fd >= 0) close(file_fd);
  }
  int fd() const { return shared ? shared->fd() : file_fd; }
};

class MappingObject : public KernelObject {
 public:
  MappingObject(std::shared_ptr<MappingCore> core, bool may_write)
      : core_(std::move(core)), may_write_(may_write) {}
  const std::shared_ptr<MappingCore>& core() const { return core_; }
  bool may_write() const { return may_write_; }

 private:
  std::shared_ptr<MappingCore> core_;
  bool may_write_;
};

struct View {
  std::shared_ptr<MappingCore> core;
  std::size_t bytes = 0;         // as asked for (ViewSize)
  std::size_t map_length = 0;    // as mapped
  bool damaged = false;          // a read or write beyond the file's end was caught
  std::uint64_t offset = 0;      // in the file
  bool shared_writable = false;  // MAP_SHARED with PROT_WRITE
};

struct ViewTable {
  std::mutex lock;
  std::map<std::uintptr_t, View> views;
};

ViewTable& Views() {
  static ViewTable* table = new ViewTable;  // never destroyed: views may be unmapped during exit
  return *table;
}

// What a mapping with this protection allows its views.
bool ProtectionWritable(DWORD protect, bool* ok) {
  switch (protect & 0xFF) {
    case PAGE_READONLY:
    case PAGE_WRITECOPY:
      *ok = true;
      return false;
    case PAGE_READWRITE:
      *ok = true;
      return true;
    default:
      *ok = false;
      return false;
  }
}

HANDLE NewMapping(std::shared_ptr<MappingCore> core, bool may_write) {
  return NewHandle(std::make_unique<MappingObject>(std::move(core), may_write));
}

HANDLE CreateSharedMemory(DWORD protect, std::size_t size, const char* name,
                          const SharedMemoryInit& init) {
  bool ok = false;
  bool writable = ProtectionWritable(protect, &ok);
  if (!ok || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto core = std::make_shared<MappingCore>();
  bool existed = false;
  if (name == nullptr || *name == '\0') {
    core->shared = detail::SharedMemoryFile::CreateAnonymous(size);
    if (core->shared && init) {
      void* bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, core->fd(), 0);
      if (bytes == MAP_FAILED) {
        SetLastErrorFromErrno();
        return nullptr;
      }
      init(bytes, size);
      munmap(bytes, size);
    }
  } else {
    core->shared = detail::SharedMemoryFile::CreateOrOpen(name, size, init, &existed);
  }
  if (!core->shared) return nullptr;
  core->size = core->shared->size();
  core->writable = true;  // the pages themselves are always writable shared memory
  HANDLE handle = NewMapping(std::move(core), writable);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE CreateFileBackedMapping(HANDLE file, DWORD protect, std::uint64_t size) {
  auto* object = HandleAs<detail::FileObject>(file);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  bool ok = false;
  bool writable = ProtectionWritable(protect, &ok);
  if (!ok) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!object->readable() || (writable && !object->writable())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat st {};
  if (fstat(object->fd(), &st) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  std::uint64_t file_size = static_cast<std::uint64_t>(st.st_size);
  if (size == 0) {
    if (file_size == 0) {
      SetLastError(ERROR_FILE_INVALID);
      return nullptr;
    }
    size = file_size;
  }
  if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
      size > std::numeric_limits<std::size_t>::max()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (size > file_size) {
    if (!writable) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    // Reserve the blocks: a full disk is an error here, never a SIGBUS on a
    // later store into the view. Filesystems without reservation grow sparse.
    int rc = posix_fallocate(object->fd(), static_cast<off_t>(file_size),
                             static_cast<off_t>(size - file_size));
    if (rc == EOPNOTSUPP || rc == EINVAL) {
      rc = ftruncate(object->fd(), static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    if (rc != 0) {
      SetLastError(ErrorFromErrno(rc));
      return nullptr;
    }
  }
  // The mapping's own open of the file: it outlives the file handle, and
  // its lock tells deleters and truncaters that the file is mapped.
  std::string self = "/proc/self/fd/" + std::to_string(object->fd());
  int fd = open(self.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) fd = fcntl(object->fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  auto core = std::make_shared<MappingCore>();
  core->file_fd = fd;
  {
    char target[4096];
    const ssize_t n = readlink(self.c_str(), target, sizeof target - 1);
    if (n > 0) core->file_path.assign(target, static_cast<std::size_t>(n));
  }
  core->size = static_cast<std::size_t>(size);
  core->writable = writable;
  if (!detail::TryLockByte(fd, detail::kMappedLock, detail::LockKind::kShared)) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  HANDLE handle = NewMapping(std::move(core), writable);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

// The view containing address, or views.end().
std::map<std::uintptr_t, View>::iterator FindView(ViewTable& table, std::uintptr_t address) {
  auto it = table.views.upper_bound(address);
  if (it == table.views.begin()) return table.views.end();
  --it;
  if (address >= it->first + it->second.map_length) return table.views.end();
  return it;
}

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// ---- the guard against files that shrink under a view ----
//
// Touching a page of a view that lies beyond the end of its file (another
// process truncated it: a dictionary overwritten in place, a peer's buffer
// cut by its creator) raises SIGBUS. The handler looks the address up among
// the views; for one of ours it maps zero-filled private pages over the
// rest of the view, marks the view damaged, counts the fault and returns,
// so that the access completes (reading zeros) and the request that made it
// fails when its dispatcher sees the count move (MappingFaultCount). A
// fault outside every view goes on to the handler that was installed
// before, or ends the process as it would have.

std::atomic<std::uint64_t> g_fault_count{0};
thread_local std::uint64_t t_fault_count = 0;
thread_local const void* t_fault_view = nullptr;
struct sigaction g_previous_bus {};

bool CatchFault(void* address) {
  ViewTable& table = Views();
  // The faulting thread never holds the lock while it touches a view; other
  // threads hold it only briefly.
  bool locked = false;
  for (int i = 0; i < 100000 && !(locked = table.lock.try_lock()); ++i) {
  }
  if (!locked) return false;
  bool caught = false;
  auto it = FindView(table, reinterpret_cast<std::uintptr_t>(address));
  if (it != table.views.end()) {
    const std::size_t page = PageSize();
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(address) & ~(page - 1);
    const std::uintptr_t end = it->first + it->second.map_length;
    void* zero = mmap(reinterpret_cast<void*>(from), end - from, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zero != MAP_FAILED) {
      it->second.damaged = true;
      t_fault_view = reinterpret_cast<const void*>(it->first);
      caught = true;
    }
  }
  table.lock.unlock();
  return caught;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  if (CatchFault(info->si_addr)) {
    g_fault_count.fetch_add(1, std::memory_order_relaxed);
    ++t_fault_count;
    errno = saved_errno;
    return;
  }
  if ((g_previous_bus.sa_flags & SA_SIGINFO) != 0 && g_previous_bus.sa_sigaction != nullptr) {
    g_previous_bus.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous_bus.sa_handler != SIG_DFL && g_previous_bus.sa_handler != SIG_IGN &&
      g_previous_bus.sa_handler != nullptr) {
    g_previous_bus.sa_handler(signal);
    return;
  }
  // Not ours: the default action, as if no handler had been installed.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGBUS, &dfl, nullptr);
  raise(signal);
  errno = saved_errno;
}

void InstallFaultGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous_bus);
  });
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, void* /*security*/, DWORD protect, DWORD size_high,
                          DWORD size_low, const char* name) {
  std::uint64_t size = (static_cast<std::uint64_t>(size_high) << 32) | size_low;
  if (file == INVALID_HANDLE_VALUE) {
    if (size > std::numeric_limits<std::size_t>::max()) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return CreateSharedMemory(protect, static_cast<std::size_t>(size), name, nullptr);
  }
  if (name != nullptr && *name != '\0') {
    // Named mappings of files are not used; refuse rather than ignore.
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateFileBackedMapping(file, protect, size);
}

HANDLE CreateFileMappingInitA(DWORD protect, std::size_t size, const char* name,
                              const SharedMemoryInit& init) {
  return CreateSharedMemory(protect, size, name, init);
}

HANDLE OpenFileMappingA(DWORD access, BOOL /*inherit*/, const char* name) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto core = std::make_shared<MappingCore>();
  core->shared = detail::SharedMemoryFile::Open(name);
  if (!core->shared) return nullptr;
  core->size = core->shared->size();
  core->writable = true;
  HANDLE handle = NewMapping(std::move(core), (access & FILE_MAP_WRITE) != 0);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                    std::size_t bytes) {
  return MapViewOfFileEx(mapping, access, offset_high, offset_low, bytes, nullptr);
}

void* MapViewOfFileEx(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                      std::size_t bytes, void* base_address) {
  auto* object = HandleAs<MappingObject>(mapping);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const std::shared_ptr<MappingCore>& core = object->core();
  std::uint64_t offset = (static_cast<std::uint64_t>(offset_high) << 32) | offset_low;
  if (offset % kAllocationGranularity != 0 ||
      reinterpret_cast<std::uintptr_t>(base_address) % PageSize() != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (offset >= core->size || (bytes != 0 && bytes > core->size - offset)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (bytes == 0) bytes = core->size - static_cast<std::size_t>(offset);
  int prot = PROT_READ;
  int flags = MAP_SHARED;
  if (access == FILE_MAP_COPY) {
    prot |= PROT_WRITE;
    flags = MAP_PRIVATE;
  } else if ((access & FILE_MAP_WRITE) != 0) {
    if (!object->may_write() || !core->writable) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    prot |= PROT_WRITE;
  } else if ((access & FILE_MAP_READ) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (base_address != nullptr) flags |= MAP_FIXED_NOREPLACE;
  void* view = mmap(base_address, bytes, prot, flags, core->fd(), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(base_address != nullptr && errno == EEXIST ? ERROR_INVALID_ADDRESS
                                                            : ErrorFromErrno(errno));
    return nullptr;
  }
  if (base_address != nullptr && view != base_address) {
    // A kernel that treats the address as a hint only.
    munmap(view, bytes);
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  InstallFaultGuard();
  ViewTable& table = Views();
  std::lock_guard<std::mutex> guard(table.lock);
  table.views[reinterpret_cast<std::uintptr_t>(view)] = View{
      core, bytes, bytes, false, offset, (flags & MAP_PRIVATE) == 0 && (prot & PROT_WRITE) != 0};
  SetLastError(ERROR_SUCCESS);
  return view;
}

BOOL UnmapViewOfFile(const void* base) {
  std::shared_ptr<MappingCore> doomed;  // released outside the lock
  {
    ViewTable& table = Views();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.views.find(reinterpret_cast<std::uintptr_t>(base));
    if (it == table.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    munmap(const_cast<void*>(base), it->second.map_length);
    doomed = std::move(it->second.core);
    table.views.erase(it);
  }
  return TRUE;
}

std::uint64_t MappingFaultCount() { return t_fault_count; }

std::size_t RemoveStaleSharedMemory() { return detail::RemoveStaleSharedMemory(); }

std::string LastMappingFault() {
  const void* base = t_fault_view;
  if (base == nullptr) return std::string();
  ViewTable& table = Views();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.views.find(reinterpret_cast<std::uintptr_t>(base));
  if (it == table.views.end()) return "a mapped file";
  const MappingCore& core = *it->second.core;
  if (core.shared) {
    const std::string& path = core.shared->path();
    const auto slash = path.rfind('/');
    return "the shared memory \"" + (slash == std::string::npos ? path : path.substr(slash + 1)) +
           "\"";
  }
  return core.file_path.empty() ? "a mapped file" : "the file " + core.file_path;
}

bool ViewDamaged(const void* address) {
  ViewTable& table = Views();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = FindView(table, reinterpret_cast<std::uintptr_t>(address));
  return it != table.views.end() && it->second.damaged;
}

bool ViewFileShrank(const void* base) {
  std::shared_ptr<MappingCore> core;
  {
    ViewTable& table = Views();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.views.find(reinterpret_cast<std::uintptr_t>(base));
    if (it == table.views.end()) return false;
    if (it->second.damaged) return true;
    core = it->second.core;
  }
  struct stat st {};
  return fstat(core->fd(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) < core->size;
}

std::size_t ViewSize(const void* base) {
  ViewTable& table = Views();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.views.find(reinterpret_cast<std::uintptr_t>(base));
  if (it == table.views.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return it->second.bytes;
}

void* GrowViewOfFile(void* base, HANDLE mapping) {
  auto* object = HandleAs<MappingObject>(mapping);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const std::shared_ptr<MappingCore>& core = object->core();
  ViewTable& table = Views();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.views.find(reinterpret_cast<std::uintptr_t>(base));
  if (it == table.views.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  View& view = it->second;
  // The same file, a whole writable view, a larger writable mapping.
  struct stat old_file {};
  struct stat new_file {};
  if (view.damaged || !view.shared_writable || view.offset != 0 || view.core->shared ||
      core->shared || !object->may_write() || !core->writable || core->size <= view.map_length ||
      view.bytes != view.core->size || fstat(view.core->fd(), &old_file) != 0 ||
      fstat(core->fd(), &new_file) != 0 || old_file.st_dev != new_file.st_dev ||
      old_file.st_ino != new_file.st_ino) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // mremap keeps the page tables of the pages already mapped.
  void* grown = mremap(base, view.map_length, core->size, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  View moved = std::move(view);
  table.views.erase(it);
  moved.core = core;
  moved.bytes = moved.map_length = core->size;
  table.views[reinterpret_cast<std::uintptr_t>(grown)] = std::move(moved);
  SetLastError(ERROR_SUCCESS);
  return grown;
}

BOOL PrefetchViewRange(const void* address, std::size_t bytes) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(address);
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  bool writable = false;
  {
    ViewTable& table = Views();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = FindView(table, at);
    if (it == table.views.end() || bytes > it->first + it->second.map_length - at ||
        it->second.damaged) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    start = at & ~(PageSize() - 1);
    end = at + bytes;
    writable = it->second.shared_writable;
  }
  if (end <= start) return TRUE;
#ifdef MADV_POPULATE_WRITE
  const int advice = writable ? MADV_POPULATE_WRITE : MADV_POPULATE_READ;
  if (madvise(reinterpret_cast<void*>(start), end - start, advice) == 0) return TRUE;
  if (errno != EINVAL) {
    // EFAULT: part of the range lies beyond the end of the file.
    SetLastErrorFromErrno();
    return FALSE;
  }
#else
  (void)writable;
#endif
  // A kernel without populate: read-ahead only.
  if (madvise(reinterpret_cast<void*>(start), end - start, MADV_WILLNEED) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

BOOL FlushViewOfFile(const void* base, std::size_t bytes) {
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(base);
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  {
    ViewTable& table = Views();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = FindView(table, address);
    if (it == table.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    std::uintptr_t view_end = it->first + it->second.map_length;
    start = address - (address - it->first) % PageSize();
    end = (bytes == 0 || bytes > view_end - address) ? view_end : address + bytes;
  }
  if (msync(reinterpret_cast<void*>(start), end - start, MS_SYNC) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

}  // namespace vandrel::win
