// Base container figures: 256 MiB written through the file handler in
// 64 KiB and in 128-byte writes, growth of an inner file to 1 GiB (262,144
// pages, seven table growths), and open and close of a 1 GiB container.
// Runs in a folder on tmpfs (/dev/shm unless --dir is given).
//
//   container_bench [--dir DIR] [--mib N]   N: MiB of the write runs (256)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/container.h"
#include "engine/file_handler.h"

namespace {

using namespace vandrel::engine;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Writes total bytes in pieces of `piece` bytes, appending; returns MB/s.
double WriteRun(const std::string& container, std::size_t piece, std::int64_t total) {
  std::filesystem::remove(container);
  std::vector<std::uint8_t> bytes(piece);
  for (std::size_t i = 0; i < piece; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31);
  TFileHandler f;
  f.Create(container + "\\WRITE.DAT");
  auto start = Clock::now();
  f.Seek(0, 0);
  for (std::int64_t at = 0; at < total; at += static_cast<std::int64_t>(piece)) {
    f.Write(bytes.data(), static_cast<std::int64_t>(piece));
  }
  auto end = Clock::now();
  f.Close();
  TBaseList::Global().CloseAll();
  std::filesystem::remove(container);
  return static_cast<double>(total) / 1e6 / Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
  std::int64_t mib = 256;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
    if (std::strcmp(argv[i], "--mib") == 0) mib = std::stoll(argv[i + 1]);
  }
  dir += "/vandrel-container-bench";
  std::filesystem::create_directories(dir);
  const std::string container = dir + "/bench.vbas";
  const std::int64_t total = mib << 20;

  std::printf("folder: %s\n", dir.c_str());
  // The machine's floor: the same bytes copied into fresh memory, and the
  // pages of a fresh 1 GiB mapping of a tmpfs file touched once.
  {
    std::vector<std::uint8_t> piece(65536, 1);
    auto start = Clock::now();
    std::vector<std::uint8_t> sink(static_cast<std::size_t>(total));
    for (std::int64_t at = 0; at < total; at += 65536) {
      std::memcpy(sink.data() + at, piece.data(), piece.size());
    }
    double s = Seconds(start, Clock::now());
    std::printf("floor: %lld MiB memcpy into fresh memory: %6.0f MB/s\n",
                static_cast<long long>(mib), static_cast<double>(total) / 1e6 / s);
  }
  std::printf("write %lld MiB in 64 KiB writes:  %8.0f MB/s   (goal >= 1000)\n",
              static_cast<long long>(mib), WriteRun(container, 65536, total));
  std::printf("write %lld MiB in 128-byte writes: %8.0f MB/s   (goal >= 200)\n",
              static_cast<long long>(mib), WriteRun(container, 128, total));

  // Growth: one inner file extended to 1 GiB (every page zero-filled).
  std::filesystem::remove(container);
  {
    TFileHandler f;
    f.Create(container + "\\BIG.DAT");
    auto start = Clock::now();
    f.Truncate(std::int64_t{1} << 30);
    auto end = Clock::now();
    TEntireDataBase* db = TBaseList::Global().Find(container);
    std::printf(
        "growth to 1 GiB:                  %8.3f s      (goal <= 1; %d pages, table end %d)\n",
        Seconds(start, end), db->PageCount(), db->TableEnd());
    f.Close();
    auto close_start = Clock::now();
    TBaseList::Global().CloseAll();
    std::printf("close after growth (flush, cut):  %8.3f s\n", Seconds(close_start, Clock::now()));
  }
  // Open and close of the 1 GiB container, without and with a read.
  double open_best = 1e9;
  double close_best = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    auto db = TEntireDataBase::Open(container);
    auto opened = Clock::now();
    int slot = db->OpenInner("BIG.DAT", 0);
    std::uint8_t b = 0;
    db->ReadAt(slot, (std::int64_t{1} << 30) - 1, &b, 1);
    db->CloseInner(slot);
    auto close_start = Clock::now();
    db.reset();
    auto closed = Clock::now();
    open_best = std::min(open_best, Seconds(start, opened));
    close_best = std::min(close_best, Seconds(close_start, closed));
  }
  std::printf("open of a 1 GiB container:        %8.3f ms     (goal <= 10; best of 5)\n",
              open_best * 1e3);
  std::printf("close of a 1 GiB container:       %8.3f ms     (best of 5)\n", close_best * 1e3);
  std::filesystem::remove_all(dir);
  return 0;
}
