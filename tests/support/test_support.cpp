#include "tests/support/test_support.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/runtime_dir.h"

namespace vandrel::test {

std::string BinDir() { return VANDREL_BIN_DIR; }
std::string SourceDir() { return VANDREL_SOURCE_DIR; }

std::string MemoryTempDir() {
  struct statfs fs {};
  if (statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

ScratchDir::ScratchDir(const std::string& prefix, const std::string& base) {
  const std::filesystem::path folder =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::string tmpl = (folder / (prefix + "-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + tmpl);
  path_ = buf.data();
  chmod(path_.c_str(), 0700);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedRuntimeDir::ScopedRuntimeDir() : dir_("vandrel-ns", MemoryTempDir()) {
  if (const char* v = std::getenv("VANDREL_RUNTIME_DIR")) {
    previous_ = v;
    had_previous_ = true;
  }
  setenv("VANDREL_RUNTIME_DIR", dir_.path().c_str(), 1);
  win::ResetRuntimeDir();
}

ScopedRuntimeDir::~ScopedRuntimeDir() {
  if (had_previous_) {
    setenv("VANDREL_RUNTIME_DIR", previous_.c_str(), 1);
  } else {
    unsetenv("VANDREL_RUNTIME_DIR");
  }
  win::ResetRuntimeDir();
}

}  // namespace vandrel::test
