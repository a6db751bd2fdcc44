// Helper program for the shared-memory tests: holds named shared memory in a
// process of its own. It talks to the test through files in a folder: it
// writes "<dir>/<step>" atomically when it reaches a step and waits for
// "<dir>/<command>" files the test writes. Every wait gives up after 60 s.
//
//   create NAME SIZE VALUE DIR
//       creates NAME (SIZE bytes), stores the 32-bit VALUE at offset 0,
//       writes "ready" (its last error after the create), waits for
//       "release", writes the 32-bit value at offset 4 into "released",
//       unmaps and closes (it lets go), waits for "exit".
//   hold NAME SIZE VALUE DIR
//       as create, but never lets go: waits to be killed.
//   counter NAME COUNT DIR TAG
//       waits for "start", creates or opens the 4-byte counter NAME
//       initialised to 1, takes COUNT numbers with an atomic add, writes
//       them to "numbers-TAG", waits for "exit", then lets go.
//   flip NAME COUNT DIR
//       COUNT times creates NAME (8 bytes, initialised to a marker before it
//       is published), maps it and lets go again; then writes "done".
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/mapping.h"

namespace {

using namespace vandrel::win;

void Write(const std::string& path, const std::string& text) {
  std::string tmp = path + ".part";
  {
    std::ofstream out(tmp);
    out << text;
  }
  std::filesystem::rename(tmp, path);
}

// Waits for a file to exist; false after 60 s.
bool WaitFor(const std::string& path, bool spin = false) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    if (std::filesystem::exists(path)) return true;
    if (spin) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return false;
}

int Create(int argc, char** argv, bool let_go) {
  if (argc != 6) return 2;
  std::string name = argv[2];
  DWORD size = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
  std::uint32_t value = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
  std::string dir = argv[5];
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                      size, name.c_str());
  DWORD created_error = GetLastError();
  if (mapping == nullptr) return 3;
  auto* bytes = static_cast<std::uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (bytes == nullptr) return 4;
  std::memcpy(bytes, &value, 4);
  Write(dir + "/ready", std::to_string(created_error));
  if (!let_go) {
    WaitFor(dir + "/never");
    return 5;
  }
  if (!WaitFor(dir + "/release")) return 6;
  std::uint32_t second = 0;
  std::memcpy(&second, bytes + 4, 4);
  UnmapViewOfFile(bytes);
  CloseHandle(mapping);
  Write(dir + "/released", std::to_string(second));
  return WaitFor(dir + "/exit") ? 0 : 7;
}

int Counter(int argc, char** argv) {
  if (argc != 6) return 2;
  std::string name = argv[2];
  int count = std::atoi(argv[3]);
  std::string dir = argv[4];
  std::string tag = argv[5];
  if (!WaitFor(dir + "/start", true)) return 6;
  HANDLE mapping = CreateFileMappingInitA(PAGE_READWRITE | SEC_COMMIT, 4, name.c_str(),
                                          [](void* bytes, std::size_t) {
                                            std::uint32_t one = 1;
                                            std::memcpy(bytes, &one, 4);
                                          });
  if (mapping == nullptr) return 3;
  auto* counter = static_cast<std::uint32_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (counter == nullptr) return 4;
  std::ostringstream numbers;
  for (int i = 0; i < count; ++i) {
    numbers << std::atomic_ref<std::uint32_t>(*counter).fetch_add(1) << "\n";
  }
  Write(dir + "/numbers-" + tag, numbers.str());
  bool told = WaitFor(dir + "/exit");
  UnmapViewOfFile(counter);
  CloseHandle(mapping);
  return told ? 0 : 7;
}

int Flip(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string name = argv[2];
  int count = std::atoi(argv[3]);
  std::string dir = argv[4];
  for (int i = 0; i < count; ++i) {
    HANDLE mapping =
        CreateFileMappingInitA(PAGE_READWRITE, 8, name.c_str(), [](void* bytes, std::size_t) {
          std::uint32_t marker = 0x5EEDF00D;
          std::memcpy(bytes, &marker, 4);
        });
    if (mapping == nullptr) return 3;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) return 4;
    UnmapViewOfFile(view);
    CloseHandle(mapping);
  }
  Write(dir + "/done", "1");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "create") return Create(argc, argv, true);
  if (mode == "hold") return Create(argc, argv, false);
  if (mode == "counter") return Counter(argc, argv);
  if (mode == "flip") return Flip(argc, argv);
  return 2;
}
