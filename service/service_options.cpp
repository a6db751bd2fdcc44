// Parsing of the service's command line and the choice of the dictionary
// folder.
#include "service/service_options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/exceptions.h"
#include "platform/process.h"
#include "vandrel/install_layout.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

struct TFolderSetting {
  std::string Folder;
  bool ReadOnly = false;
};

TFolderSetting& Setting() {
  static TFolderSetting setting;
  return setting;
}

std::string LowerCase(std::string s) {
  // Only ASCII letters can lower-case into "/stay".
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// mkdir with mode 0700; an existing folder is left as it is.
void MakePrivateFolder(const fs::path& p) {
  if (::mkdir(p.c_str(), 0700) == 0 || (errno == EEXIST && IsFolder(p))) return;
  throw Exception("cannot create the dictionary folder " + p.string() + ": " +
                  std::strerror(errno));
}

}  // namespace

TServiceOptions ParseServiceCommandLine(const std::vector<std::string>& args) {
  TServiceOptions options;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    if (LowerCase(arg) == "/stay") {
      options.Stay = true;
    } else if (options.DictionaryFolder.empty()) {
      options.DictionaryFolder = arg;
    }
  }
  return options;
}

std::string UserDictionaryFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && data_home[0] == '/') {
    return (fs::path(data_home) / "vandrel" / "dic").string();
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    throw Exception(
        "cannot find the user's dictionary folder: neither XDG_DATA_HOME nor HOME is set");
  }
  return (fs::path(home) / ".local" / "share" / "vandrel" / "dic").string();
}

std::string CreateUserDictionaryFolder() {
  const fs::path folder = UserDictionaryFolder();
  // The data folder above may be missing too (a fresh account); it gets the
  // usual mode, only Vandrel's own folders are private.
  std::error_code ec;
  fs::create_directories(folder.parent_path().parent_path(), ec);
  MakePrivateFolder(folder.parent_path());
  MakePrivateFolder(folder);
  return folder.string();
}

TDicFolderChoice ChooseDictionaryFolder(const std::string& program_dir, bool create_user) {
  const fs::path beside = fs::absolute(fs::path(program_dir) / "Dic");
  if (IsFolder(beside)) return {beside.lexically_normal().string(), TDicFolderKind::BesideProgram};
  const std::string user = UserDictionaryFolder();
  if (IsFolder(user)) return {user, TDicFolderKind::User};
  for (const fs::path& samples : {fs::path(program_dir) / install::kSamplesFromServiceDir,
                                  fs::path(install::kSamplesFolder)}) {
    if (IsFolder(samples)) {
      return {fs::absolute(samples).lexically_normal().string(), TDicFolderKind::Samples, true};
    }
  }
  return {create_user ? CreateUserDictionaryFolder() : user, TDicFolderKind::User};
}

std::string DefaultDictionaryFolder() {
  return ChooseDictionaryFolder(fs::path(win::ModuleFileName()).parent_path().string()).Folder;
}

const std::string& DictionaryFolder() {
  TFolderSetting& s = Setting();
  if (s.Folder.empty()) {
    const TDicFolderChoice choice =
        ChooseDictionaryFolder(fs::path(win::ModuleFileName()).parent_path().string());
    s.Folder = choice.Folder;
    s.ReadOnly = choice.ReadOnly;
  }
  return s.Folder;
}

void SetDictionaryFolder(const std::string& folder) {
  // A relative folder is taken from the directory the service started in.
  Setting().Folder = folder.empty() ? std::string() : fs::absolute(folder).string();
  Setting().ReadOnly = false;
}

bool DictionaryFolderReadOnly() {
  DictionaryFolder();
  return Setting().ReadOnly;
}

}  // namespace vandrel
