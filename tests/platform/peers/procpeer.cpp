// Helper program for the process tests: does one small thing named by its
// first argument so that a test can watch it from outside.
//   exit CODE          ends with CODE
//   cwd FILE           writes its working directory to FILE, ends with 0
//   hang               waits until it is killed (gives up after 120 s)
//   report FILE        writes "pid sid stdin-target" to FILE (atomically),
//                      then waits until it is killed (gives up after 120 s)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

void WaitToBeKilled() {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void WriteAtomically(const std::string& path, const std::string& text) {
  std::string tmp = path + ".part";
  {
    std::ofstream out(tmp);
    out << text;
  }
  std::filesystem::rename(tmp, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "exit" && argc == 3) return std::atoi(argv[2]);
  if (mode == "cwd" && argc == 3) {
    WriteAtomically(argv[2], std::filesystem::current_path().string());
    return 0;
  }
  if (mode == "hang") {
    WaitToBeKilled();
    return 3;
  }
  if (mode == "report" && argc == 3) {
    std::error_code ec;
    std::string in = std::filesystem::read_symlink("/proc/self/fd/0", ec).string();
    WriteAtomically(argv[2], std::to_string(getpid()) + " " + std::to_string(getsid(0)) + " " + in);
    WaitToBeKilled();
    return 3;
  }
  return 2;
}
