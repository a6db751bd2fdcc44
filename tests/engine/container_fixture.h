// Shared helpers of the engine storage tests: a scratch folder, engine file
// names inside containers, raw file bytes, and the structural check.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/container_check.h"
#include "tests/support/test_support.h"

namespace vandrel::engine::test {

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

// Points TMPDIR at /dev/shm while it lives, when /dev/shm exists.
class ScopedTmpDir {
 public:
  ScopedTmpDir() {
    if (std::filesystem::is_directory("/dev/shm")) env_.emplace("TMPDIR", "/dev/shm");
  }

 private:
  std::optional<vandrel::test::ScopedEnv> env_;
};

class ContainerTest : public ::testing::Test {
 protected:
  void TearDown() override { TBaseList::Global().CloseAll(); }
  // An engine file name: container path, '\', inner name.
  std::string Name(const std::string& container, const std::string& inner) const {
    return dir_.path() + "/" + container + "\\" + inner;
  }
  std::string Path(const std::string& container) const { return dir_.path() + "/" + container; }
  void ExpectClean(const TEntireDataBase& db) {
    TContainerReport r = CheckContainer(db);
    EXPECT_TRUE(r.Clean()) << Joined(r.Lines());
  }

  // On tmpfs when there is one: persistent containers flush to the disk at
  // every close.
  ScopedTmpDir tmp_;
  vandrel::test::ScratchDir dir_{"vandrel-engine"};
};

}  // namespace vandrel::engine::test
