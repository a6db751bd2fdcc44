// gzip -dc through a child process and a temporary file.
#include "tools/common/gunzip.h"

#include <atomic>
#include <filesystem>
#include <system_error>

#include "platform/exceptions.h"
#include "platform/process.h"
#include "tools/common/source.h"

namespace vandrel::tools {

std::string GunzipFile(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  if (ec) tmp = "/tmp";
  tmp /= "vandrel-gunzip-" + std::to_string(win::GetCurrentProcessId()) + "-" +
         std::to_string(counter++);
  // The file names travel as positional parameters, never inside the script.
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec gzip -dc -- \"$1\" > \"$2\"", "sh", path,
                                   tmp.string()};
  win::DWORD pid = win::StartChildProcess(argv, "");
  if (pid == 0) throw Exception("cannot start gzip to read " + path);
  int code = -1;
  win::WaitChildProcess(pid, -1, &code);
  struct Remove {
    std::filesystem::path p;
    ~Remove() {
      std::error_code ignored;
      std::filesystem::remove(p, ignored);
    }
  } remove{tmp};
  if (code != 0) {
    throw Exception("gzip -dc " + path + " failed (exit code " + std::to_string(code) + ")");
  }
  return ReadWholeFile(tmp.string());
}

}  // namespace vandrel::tools
