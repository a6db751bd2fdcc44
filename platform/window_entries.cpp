// Window handles, window entries and name entries in the session namespace.
#include "platform/window_entries.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <mutex>

#include "platform/error.h"

namespace vandrel::win::detail {
namespace {

// The mapped counter of the namespace last used by this process. Mappings of
// earlier namespaces (tests switch namespaces) are left mapped: a thread may
// still be inside fetch_add on one.
struct CounterMap {
  std::mutex lock;
  std::string dir;
  std::uint32_t* value = nullptr;
};

CounterMap& counter_map() {
  static CounterMap* m = new CounterMap;  // never destroyed: used during exit
  return *m;
}

// Opens <dir>/hwnd.next, creating it complete with the value 1 when it does
// not exist: the file is written under a private name and linked into place,
// so no process ever sees an empty counter.
int OpenCounter(const std::string& dir) {
  const std::string path = dir + "/hwnd.next";
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != ENOENT) break;
    const std::string tmp = path + "." + std::to_string(getpid()) + ".tmp";
    int tfd = open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (tfd < 0) break;
    const std::uint32_t first = 1;
    bool written = pwrite(tfd, &first, sizeof(first), 0) == static_cast<ssize_t>(sizeof(first));
    close(tfd);
    if (written && link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) written = false;
    int saved = errno;
    unlink(tmp.c_str());
    errno = saved;
    if (!written) break;
  }
  SetLastErrorFromErrno();
  return -1;
}

std::uint32_t* MapCounter(const std::string& dir) {
  int fd = OpenCounter(dir);
  if (fd < 0) return nullptr;
  struct stat st {};
  void* p = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(std::uint32_t))) {
    p = mmap(nullptr, sizeof(std::uint32_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) SetLastErrorFromErrno();
  } else {
    SetLastError(ERROR_INVALID_DATA);
  }
  close(fd);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint32_t*>(p);
}

bool ParseUint32(std::string_view text, std::uint32_t* out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

std::optional<std::string> ReadLink(const std::string& path) {
  char buf[256];
  ssize_t n = readlink(path.c_str(), buf, sizeof(buf));
  if (n <= 0 || n == static_cast<ssize_t>(sizeof(buf))) return std::nullopt;
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string WinPath(const std::string& dir, HWND hwnd) {
  return dir + "/win/" + std::to_string(hwnd);
}

}  // namespace

std::uint32_t NextNamespaceNumber(const std::string& dir) {
  CounterMap& m = counter_map();
  std::uint32_t* value;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.value == nullptr || m.dir != dir) {
      std::uint32_t* mapped = MapCounter(dir);
      if (mapped == nullptr) return 0;
      m.value = mapped;
      m.dir = dir;
    }
    value = m.value;
  }
  // Lock-free atomics on a shared mapping are atomic across processes.
  std::atomic_ref<std::uint32_t> counter(*value);
  for (;;) {
    std::uint32_t n = counter.fetch_add(1, std::memory_order_relaxed);
    if (n != 0 && n != 0xFFFFFFFFu) return n;
  }
}

std::string EndpointPath(const std::string& dir, std::uint32_t endpoint) {
  return dir + "/ep/" + std::to_string(endpoint);
}

bool CreateWindowEntry(const std::string& dir, HWND hwnd, const WindowOwner& owner) {
  const std::string target = std::to_string(owner.endpoint) + ":" + std::to_string(owner.pid) +
                             ":" + std::to_string(owner.tid);
  if (symlink(target.c_str(), WinPath(dir, hwnd).c_str()) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

std::optional<WindowOwner> ReadWindowEntry(const std::string& dir, HWND hwnd) {
  auto text = ReadLink(WinPath(dir, hwnd));
  if (!text) return std::nullopt;
  std::string_view t = *text;
  auto c1 = t.find(':');
  auto c2 = c1 == std::string_view::npos ? c1 : t.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return std::nullopt;
  WindowOwner owner;
  if (!ParseUint32(t.substr(0, c1), &owner.endpoint) ||
      !ParseUint32(t.substr(c1 + 1, c2 - c1 - 1), &owner.pid) ||
      !ParseUint32(t.substr(c2 + 1), &owner.tid) || owner.endpoint == 0) {
    return std::nullopt;  // not an entry this layer wrote
  }
  return owner;
}

void RemoveWindowEntry(const std::string& dir, HWND hwnd) { unlink(WinPath(dir, hwnd).c_str()); }

std::string WindowNameKey(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string key;
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        (c == '.' && !key.empty())) {
      key += static_cast<char>(c);
    } else {
      key += '%';
      key += kHex[c >> 4];
      key += kHex[c & 15];
    }
  }
  if (key.size() > NAME_MAX) return std::string();
  return key;
}

NameLock::NameLock(const std::string& dir) {
  fd_ = open((dir + "/name.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    SetLastErrorFromErrno();
    return;
  }
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      close(fd_);
      fd_ = -1;
      return;
    }
  }
}

NameLock::~NameLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

bool CreateNameEntry(const std::string& dir, const std::string& key, HWND hwnd) {
  if (symlink(std::to_string(hwnd).c_str(), (dir + "/name/" + key).c_str()) != 0) {
    if (errno == EEXIST) {
      SetLastError(ERROR_ALREADY_EXISTS);
    } else {
      SetLastErrorFromErrno();
    }
    return false;
  }
  return true;
}

std::optional<HWND> ReadNameEntry(const std::string& dir, const std::string& key) {
  auto text = ReadLink(dir + "/name/" + key);
  std::uint32_t hwnd = 0;
  if (!text || !ParseUint32(*text, &hwnd) || hwnd == 0) return std::nullopt;
  return hwnd;
}

void RemoveNameEntry(const std::string& dir, const std::string& key) {
  unlink((dir + "/name/" + key).c_str());
}

}  // namespace vandrel::win::detail
