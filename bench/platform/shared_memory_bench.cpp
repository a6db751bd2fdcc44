// Cost of the named shared-memory calls the transfer channel makes on every
// exchange, against the floor of plain file calls on the same file system.
//
//   create_map_release   CreateFileMappingA of a new name, MapViewOfFile,
//                        CloseHandle, UnmapViewOfFile (one buffer growth)
//   open_map_release     OpenFileMappingA of a live name, MapViewOfFile,
//                        CloseHandle, UnmapViewOfFile (one reader switch)
//   floor_open_map       open, mmap, munmap, close of an existing file in
//                        the same folder, without any lifetime protocol
//   granule_view         MapViewOfFile / UnmapViewOfFile of one 64 KiB
//                        granule of a mapped dictionary-sized file
// Runs in a private session namespace on /dev/shm (where the default
// namespace lives), else under the system's temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/runtime_dir.h"

namespace {

using namespace vandrel::win;

void CreateMapRelease(benchmark::State& state) {
  unsigned n = 0;
  for (auto _ : state) {
    std::string name = "Vandrel_Transfer" + std::to_string(++n);
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                  4096, name.c_str());
    void* view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    benchmark::DoNotOptimize(view);
    CloseHandle(h);
    UnmapViewOfFile(view);
  }
}
BENCHMARK(CreateMapRelease)->Name("create_map_release");

void OpenMapRelease(benchmark::State& state) {
  HANDLE owner = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                    4096, "Vandrel_Transfer0");
  for (auto _ : state) {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer0");
    void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    benchmark::DoNotOptimize(view);
    CloseHandle(h);
    UnmapViewOfFile(view);
  }
  CloseHandle(owner);
}
BENCHMARK(OpenMapRelease)->Name("open_map_release");

void FloorOpenMap(benchmark::State& state) {
  std::string path = RuntimeDir() + "/shm/floor";
  int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0 || ftruncate(fd, 4096) != 0) std::abort();
  close(fd);
  for (auto _ : state) {
    int f = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* view = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, f, 0);
    benchmark::DoNotOptimize(view);
    munmap(view, 4096);
    close(f);
  }
  unlink(path.c_str());
}
BENCHMARK(FloorOpenMap)->Name("floor_open_map");

void GranuleView(benchmark::State& state) {
  std::string path = RuntimeDir() + "/granules.dic";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 64 * 65536, nullptr);
  DWORD granule = 0;
  for (auto _ : state) {
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, granule * 65536, 65536);
    benchmark::DoNotOptimize(view);
    UnmapViewOfFile(view);
    granule = (granule + 1) % 64;
  }
  CloseHandle(mapping);
  CloseHandle(file);
}
BENCHMARK(GranuleView)->Name("granule_view");

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                   ? std::filesystem::path("/dev/shm")
                                   : std::filesystem::temp_directory_path();
  std::string dir = (base / "vandrel-bench-shm-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  setenv("VANDREL_RUNTIME_DIR", dir.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
