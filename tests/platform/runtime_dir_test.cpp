// A runtime directory on a disk-backed file system: the named shared
// memory of real processes lands in a private folder on /dev/shm, follows
// the same lifetime rules there, and the folder goes once its runtime
// directory is gone; a folder that is not private is refused.
#include "platform/runtime_dir.h"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

bool OnMemory(const std::string& path) {
  struct statfs fs {};
  return statfs(path.c_str(), &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

bool WaitForPath(const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Points VANDREL_RUNTIME_DIR at path for the scope.
class UseRuntimeDir {
 public:
  explicit UseRuntimeDir(const std::string& path) {
    if (const char* v = std::getenv("VANDREL_RUNTIME_DIR")) previous_ = v;
    setenv("VANDREL_RUNTIME_DIR", path.c_str(), 1);
    ResetRuntimeDir();
  }
  ~UseRuntimeDir() {
    if (previous_.empty())
      unsetenv("VANDREL_RUNTIME_DIR");
    else
      setenv("VANDREL_RUNTIME_DIR", previous_.c_str(), 1);
    ResetRuntimeDir();
  }

 private:
  std::string previous_;
};

class RuntimeOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (OnMemory(test::BinDir())) GTEST_SKIP() << "the build tree is on memory";
    if (!OnMemory(kSharedMemoryRoot)) GTEST_SKIP() << "/dev/shm is not on memory";
  }
  test::ScratchDir talk_{"vandrel-ondisk-talk", test::MemoryTempDir()};
};

TEST_F(RuntimeOnDisk, SharedMemoryOfRealProcessesLivesOnDevShmAndIsRemoved) {
  std::string folder;
  {
    // A runtime directory under the build tree, on the disk.
    test::ScratchDir disk("vandrel-ondisk-ns", test::BinDir());
    UseRuntimeDir use(disk.path());
    folder = SharedMemoryDir();
    EXPECT_EQ(folder.rfind("/dev/shm/vandrel-" + std::to_string(geteuid()) + "-", 0), 0u) << folder;
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    std::ifstream marker(folder + "/" + kRuntimeMarker);
    std::string named;
    std::getline(marker, named);
    EXPECT_EQ(named, disk.path());

    // A peer creates an object; this process joins it; it lives in the
    // folder on memory, never in the runtime directory.
    std::vector<std::string> argv{
        test::BinDir() + "/shmpeer", "create", "Vandrel_Transfer5", "64", "321", talk_.path()};
    const DWORD creator = StartChildProcess(argv, "");
    ASSERT_NE(creator, 0u);
    ASSERT_TRUE(WaitForPath(talk_.path() + "/ready"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/Vandrel_Transfer5"));
    EXPECT_TRUE(std::filesystem::is_empty(disk.path() + "/shm"));
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer5");
    ASSERT_NE(h, nullptr) << GetLastError();
    std::ofstream(talk_.path() + "/release") << "1";
    ASSERT_TRUE(WaitForPath(talk_.path() + "/released"));
    std::ofstream(talk_.path() + "/exit") << "1";
    int code = -1;
    EXPECT_TRUE(WaitChildProcess(creator, 30000, &code));
    EXPECT_EQ(code, 0);
    // The last holder leaves: the name goes.
    EXPECT_TRUE(std::filesystem::exists(folder + "/Vandrel_Transfer5"));
    CloseHandle(h);
    EXPECT_FALSE(std::filesystem::exists(folder + "/Vandrel_Transfer5"));

    // A holder killed leaves a stale file, which the sweep removes.
    std::filesystem::create_directory(talk_.path() + "/b");
    argv = {test::BinDir() + "/shmpeer", "hold", "Vandrel_Transfer6", "64", "7",
            talk_.path() + "/b"};
    const DWORD holder = StartChildProcess(argv, "");
    ASSERT_TRUE(WaitForPath(talk_.path() + "/b/ready"));
    ASSERT_TRUE(KillProcess(holder, true));
    WaitChildProcess(holder, 30000, nullptr);
    EXPECT_TRUE(std::filesystem::exists(folder + "/Vandrel_Transfer6"));
    EXPECT_GE(RemoveStaleSharedMemory(), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder + "/Vandrel_Transfer6"));

    // An object left behind by a killed holder when its runtime directory
    // goes.
    std::filesystem::create_directory(talk_.path() + "/c");
    argv = {test::BinDir() + "/shmpeer", "hold", "Vandrel_Transfer8", "64", "7",
            talk_.path() + "/c"};
    const DWORD last = StartChildProcess(argv, "");
    ASSERT_TRUE(WaitForPath(talk_.path() + "/c/ready"));
    ASSERT_TRUE(KillProcess(last, true));
    WaitChildProcess(last, 30000, nullptr);
  }
  // The runtime directory is gone: any namespace's sweep removes its
  // folder on memory with what was left in it.
  ASSERT_TRUE(std::filesystem::exists(folder + "/Vandrel_Transfer8"));
  test::ScopedRuntimeDir other;
  EXPECT_GE(RemoveStaleSharedMemory(), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(RuntimeOnDisk, AFolderOnDevShmThatIsNotPrivateIsRefused) {
  test::ScratchDir disk("vandrel-ondisk-ns", test::BinDir());
  std::string folder;
  {
    UseRuntimeDir use(disk.path());
    folder = SharedMemoryDir();
  }
  // Someone opened the folder to others: refused with a clear text, and
  // the shared memory fails instead of landing somewhere else.
  std::filesystem::remove(folder + "/" + kRuntimeMarker);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  {
    UseRuntimeDir use(disk.path());
    try {
      SharedMemoryDir();
      ADD_FAILURE() << "an open folder was used";
    } catch (const std::runtime_error& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find("disk-backed"), std::string::npos) << text;
      EXPECT_NE(text.find("group and others must have no access"), std::string::npos) << text;
      EXPECT_NE(text.find("VANDREL_RUNTIME_DIR"), std::string::npos) << text;
    }
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                 "Vandrel_Transfer3"),
              nullptr);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vandrel::win
