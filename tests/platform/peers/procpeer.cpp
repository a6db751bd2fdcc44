// Helper program for the process tests: does one small thing named by its
// first argument so that a test can watch it from outside.
//   exit CODE          ends with CODE
//   cwd FILE           writes its working directory to FILE, ends with 0
//   hang               waits until it is killed (gives up after 120 s)
//   report FILE        writes "pid sid stdin-target" to FILE (atomically),
//                      then waits until it is killed (gives up after 120 s)
//   open PATH ACCESS SHARE FILE
//                      opens the existing file PATH (ACCESS and SHARE as
//                      numbers), writes its last error to FILE (0: open)
//                      and, when open, holds it until it is killed
//   map PATH FILE      opens PATH read-only without sharing, maps it whole,
//                      closes both handles (the view stays), writes "0" to
//                      FILE and holds the view until it is killed
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/mapping.h"

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
  if (mode == "open" && argc == 6) {
    using namespace vandrel::win;
    HANDLE file = CreateFileA(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 0)),
                              static_cast<DWORD>(std::strtoul(argv[4], nullptr, 0)), nullptr,
                              OPEN_EXISTING, 0, nullptr);
    WriteAtomically(argv[5], std::to_string(file == INVALID_HANDLE_VALUE ? GetLastError() : 0));
    if (file == INVALID_HANDLE_VALUE) return 1;
    WaitToBeKilled();
    return 3;
  }
  if (mode == "map" && argc == 4) {
    using namespace vandrel::win;
    HANDLE file = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return 1;
    if (MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) == nullptr) return 1;
    CloseHandle(mapping);
    CloseHandle(file);
    WriteAtomically(argv[3], "0");
    WaitToBeKilled();
    return 3;
  }
  return 2;
}
