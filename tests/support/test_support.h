// What every test may use: where the built programs are, a private session
// namespace per test (so tests run in parallel and never meet a developer's
// running service), and scratch folders that are removed afterwards.
#pragma once

#include <string>

namespace vandrel::test {

// The folder of every built program (services, tools, test peers).
std::string BinDir();
// The source tree's root (for shipped samples and corpora).
std::string SourceDir();

// A fresh folder under the system's temporary folder, removed with all its
// content on destruction.
class ScratchDir {
 public:
  // base: the folder to make it in (default: the system's temporary folder).
  explicit ScratchDir(const std::string& prefix = "vandrel-test", const std::string& base = "");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// /dev/shm when it is a writable memory file system, else the system's
// temporary folder.
std::string MemoryTempDir();

// Points VANDREL_RUNTIME_DIR at a fresh private folder on memory
// (MemoryTempDir) for the lifetime of the object (child processes inherit it) and restores the
// previous value.
class ScopedRuntimeDir {
 public:
  ScopedRuntimeDir();
  ~ScopedRuntimeDir();
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;
  const std::string& path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
  std::string previous_;
  bool had_previous_ = false;
};

}  // namespace vandrel::test
