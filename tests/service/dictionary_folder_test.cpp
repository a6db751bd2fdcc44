// The dictionary folder a service serves without a folder argument: "Dic"
// beside its program, else the user's folder, else the installed samples
// (read only), else the user's folder created private.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "service/service_options.h"
#include "tests/support/test_support.h"
#include "vandrel/install_layout.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

unsigned Mode(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 0777;
}

class DictionaryFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An installed layout: the service in libexec/vandrel, the samples in
    // share/vandrel/dic, at the same relative place as a real install.
    fs::create_directories(service_dir_);
  }
  fs::path Samples() const {
    return (service_dir_ / install::kSamplesFromServiceDir).lexically_normal();
  }

  test::ScratchDir scratch_{"vandrel-dicfolder"};
  fs::path root_ = scratch_.path();
  fs::path service_dir_ = root_ / "prefix" / "libexec" / "vandrel";
  test::ScopedEnv data_home_{"XDG_DATA_HOME", (root_ / "data").string()};
};

TEST_F(DictionaryFolderTest, EachPlaceInItsTurn) {
  const fs::path user = root_ / "data" / "vandrel" / "dic";
  EXPECT_EQ(UserDictionaryFolder(), user.string());

  // The samples, read only, while the user has no folder of their own;
  // looking does not create it.
  fs::create_directories(Samples());
  TDicFolderChoice c = ChooseDictionaryFolder(service_dir_.string());
  EXPECT_EQ(c.Kind, TDicFolderKind::Samples);
  EXPECT_TRUE(c.ReadOnly);
  EXPECT_EQ(fs::path(c.Folder), Samples());
  EXPECT_FALSE(fs::exists(user));

  // The user's own folder wins over the samples once it exists.
  EXPECT_EQ(CreateUserDictionaryFolder(), user.string());
  c = ChooseDictionaryFolder(service_dir_.string());
  EXPECT_EQ(c.Kind, TDicFolderKind::User);
  EXPECT_FALSE(c.ReadOnly);
  EXPECT_EQ(c.Folder, user.string());

  // "Dic" beside the program wins over both (a build tree).
  fs::create_directories(service_dir_ / "Dic");
  c = ChooseDictionaryFolder(service_dir_.string());
  EXPECT_EQ(c.Kind, TDicFolderKind::BesideProgram);
  EXPECT_EQ(fs::path(c.Folder), service_dir_ / "Dic");
}

TEST_F(DictionaryFolderTest, WithoutSamplesTheUsersFolderIsCreatedPrivate) {
  if (fs::exists(install::kSamplesFolder)) GTEST_SKIP() << "samples installed on this machine";
  const fs::path user = root_ / "data" / "vandrel" / "dic";
  TDicFolderChoice c = ChooseDictionaryFolder(service_dir_.string(), false);
  EXPECT_EQ(c.Kind, TDicFolderKind::User);
  EXPECT_FALSE(fs::exists(user));
  c = ChooseDictionaryFolder(service_dir_.string());
  EXPECT_EQ(c.Folder, user.string());
  ASSERT_TRUE(fs::is_directory(user));
  EXPECT_EQ(Mode(user), 0700u);
  EXPECT_EQ(Mode(user.parent_path()), 0700u);
  // An existing folder keeps its mode.
  ASSERT_EQ(::chmod(user.c_str(), 0750), 0);
  EXPECT_EQ(CreateUserDictionaryFolder(), user.string());
  EXPECT_EQ(Mode(user), 0750u);

  // A relative XDG_DATA_HOME does not count; HOME does.
  setenv("XDG_DATA_HOME", "relative", 1);
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(UserDictionaryFolder(), (fs::path(home) / ".local/share/vandrel/dic").string());
  }
}

}  // namespace
}  // namespace vandrel
