// Finding the service program beside the client or where it was installed.
#include "client/service_location.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/process.h"
#include "vandrel/install_layout.h"

namespace vandrel::client {
namespace {

namespace fs = std::filesystem;

// The file this code was loaded from: the shared client library, or the
// program it is linked into.
fs::path ThisModule() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ServiceProgramCandidates), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  std::error_code ec;
  const fs::path p = fs::canonical(info.dli_fname, ec);
  return ec ? fs::path() : p;
}

bool IsProgram(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> ServiceProgramCandidates() {
  const fs::path self_dir = fs::path(win::ModuleFileName()).parent_path();
  std::vector<std::string> out{
      (self_dir / "vandrel-service").string(),
      (self_dir / install::kServiceFromBinDir).lexically_normal().string()};
  const fs::path module = ThisModule();
  if (!module.empty()) {
    out.push_back((module.parent_path() / install::kServiceFromLibDir).lexically_normal().string());
  }
  out.push_back(install::kServiceProgram);
  return out;
}

std::string LocateServiceProgram() {
  const char* env = std::getenv("VANDREL_SERVICE");
  if (env != nullptr && env[0] != '\0') return env;
  const std::vector<std::string> candidates = ServiceProgramCandidates();
  for (const std::string& c : candidates) {
    if (IsProgram(c)) return c;
  }
  return candidates.front();
}

}  // namespace vandrel::client
