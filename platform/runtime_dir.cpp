// Finding, creating and checking the session namespace directory.
#include "platform/runtime_dir.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace vandrel::win {
namespace {

std::mutex g_lock;
std::string g_dir;
std::string g_shm_dir;

void MakePrivateDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create runtime directory " + path + ": " +
                             std::strerror(errno));
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    throw std::runtime_error("cannot read runtime directory " + path + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw std::runtime_error("runtime directory " + path + " is not a directory");
  }
  if (st.st_uid != geteuid()) {
    throw std::runtime_error("runtime directory " + path + " belongs to another user");
  }
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    // Whoever can list it sees the buffers' names; whoever can enter it can
    // read them and message the service.
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    throw std::runtime_error("runtime directory " + path + " has mode " + mode +
                             "; group and others must have no access (chmod 700 " + path +
                             "); refusing to use it");
  }
}

std::string ChooseDir() {
  if (const char* v = std::getenv("VANDREL_RUNTIME_DIR"); v != nullptr && *v != '\0') return v;
  if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x != nullptr && *x != '\0') {
    return std::string(x) + "/vandrel";
  }
  return "/dev/shm/vandrel-" + std::to_string(geteuid());
}

// Whether path is on a file system kept in memory.
bool OnMemory(const std::string& path) {
  struct statfs fs {};
  if (statfs(path.c_str(), &fs) != 0) return false;
  return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

std::string Hex(unsigned long long v) {
  char text[24];
  std::snprintf(text, sizeof text, "%llx", v);
  return text;
}

// The private folder on /dev/shm for the runtime directory dir, which is on
// a disk; created with its ".runtime" file on first use.
std::string MemoryFolderFor(const std::string& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    throw std::runtime_error("cannot read runtime directory " + dir + ": " + std::strerror(errno));
  }
  const std::string why = "runtime directory " + dir +
                          " is on a disk-backed file system, and its shared memory cannot go "
                          "to /dev/shm: ";
  const std::string fix = "; set VANDREL_RUNTIME_DIR to a folder on tmpfs";
  if (!OnMemory(kSharedMemoryRoot)) {
    throw std::runtime_error(why + std::string(kSharedMemoryRoot) + " is not a memory file system" +
                             fix);
  }
  const std::string folder = std::string(kSharedMemoryRoot) + "/vandrel-" +
                             std::to_string(geteuid()) + "-" + Hex(st.st_dev) + "-" +
                             Hex(st.st_ino);
  try {
    MakePrivateDir(folder);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(why + e.what() + fix);
  }
  const std::string marker = folder + "/" + kRuntimeMarker;
  const int fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    const std::string text =
        dir + "\n" + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written) {
      unlink(marker.c_str());
      throw std::runtime_error(why + "cannot write " + marker + fix);
    }
  }
  return folder;
}

}  // namespace

const std::string& SharedMemoryDir() {
  const std::string dir = RuntimeDir();
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_shm_dir.empty()) g_shm_dir = OnMemory(dir) ? dir + "/shm" : MemoryFolderFor(dir);
  return g_shm_dir;
}

const std::string& RuntimeDir() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_dir.empty()) {
    std::string dir = ChooseDir();
    MakePrivateDir(dir);
    for (const char* sub : {"/shm", "/win", "/name", "/ep"}) MakePrivateDir(dir + sub);
    g_dir = dir;
  }
  return g_dir;
}

void ResetRuntimeDir() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_dir.clear();
  g_shm_dir.clear();
}

}  // namespace vandrel::win
