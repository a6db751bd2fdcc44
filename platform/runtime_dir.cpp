// Finding, creating and checking the session namespace directory.
#include "platform/runtime_dir.h"

#include <sys/stat.h>
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

}  // namespace

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
}

}  // namespace vandrel::win
