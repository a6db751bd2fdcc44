// Parsing of the service's command line and the dictionary folder setting.
#include "service/service_options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/process.h"

namespace vandrel {
namespace {

std::string& Folder() {
  static std::string folder;
  return folder;
}

std::string LowerCase(std::string s) {
  // Only ASCII letters can lower-case into "/stay".
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
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

std::string DefaultDictionaryFolder() {
  const std::filesystem::path exe = win::ModuleFileName();
  return (exe.parent_path() / "Dic").string();
}

const std::string& DictionaryFolder() {
  if (Folder().empty()) Folder() = DefaultDictionaryFolder();
  return Folder();
}

void SetDictionaryFolder(const std::string& folder) {
  // A relative folder is taken from the directory the service started in.
  Folder() = folder.empty() ? std::string() : std::filesystem::absolute(folder).string();
}

}  // namespace vandrel
