// Choices of the trained body dictionary, measured on the bodies of a
// compiled dictionary: for each training sample (the first bodies in word
// order, as the compiler takes them, or bodies spread over the file), each
// dictionary capacity and each compression level, the stored size of the
// body stream (bodies kept plain when compression does not shrink them),
// the training time and the compression time per body (one thread).
// Usage: dictionary_train_bench FILE.dic [--threshold N] [--sample BYTES]
//        [--levels 3,6,9] [--capacities 65536,114688] [--modes first,spread]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/compression.h"
#include "dictionary/dic_table.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: dictionary_train_bench FILE.dic [--threshold N] [--sample BYTES]\n");
    return 2;
  }
  std::size_t threshold = 32;
  std::size_t sample_bytes = 8 << 20;
  std::vector<int> levels = {3, 6, 9, 12, 15, 19};
  std::vector<int> capacities = {65536, 114688};
  std::string modes = "first,spread";
  const auto numbers = [](const char* list) {
    std::vector<int> out;
    for (const char* p = list; *p;) {
      char* end = nullptr;
      out.push_back(static_cast<int>(std::strtol(p, &end, 10)));
      p = *end == ',' ? end + 1 : end;
      if (end == p && *p) break;
    }
    return out;
  };
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--threshold") threshold = std::strtoul(argv[i + 1], nullptr, 10);
    if (a == "--sample") sample_bytes = std::strtoul(argv[i + 1], nullptr, 10);
    if (a == "--levels") levels = numbers(argv[i + 1]);
    if (a == "--capacities") capacities = numbers(argv[i + 1]);
    if (a == "--modes") modes = argv[i + 1];
  }
  vandrel::TDicTable table;
  table.FileName = argv[1];
  table.Open();
  std::vector<std::string> bodies;
  std::size_t all = 0, total = 0;
  for (table.First(); !table.Eof(); table.Next()) {
    std::string body = table.GetEncodedBody();
    total += body.size();
    ++all;
    if (body.size() > threshold) bodies.push_back(std::move(body));
  }
  std::size_t long_bytes = 0;
  for (const auto& b : bodies) long_bytes += b.size();
  std::printf("%zu bodies, %zu bytes; %zu over %zu bytes, %zu bytes\n", all, total, bodies.size(),
              threshold, long_bytes);
  std::printf("%-8s %8s %5s %12s %8s %9s\n", "sample", "capacity", "level", "stored B", "train s",
              "ns/body");
  for (const char* mode : {"first", "spread"}) {
    if (modes.find(mode) == std::string::npos) continue;
    std::vector<std::string_view> sample;
    std::size_t taken = 0;
    const std::size_t step =
        std::string_view(mode) == "first" ? 1 : std::max<std::size_t>(1, long_bytes / sample_bytes);
    for (std::size_t i = 0; i < bodies.size() && taken < sample_bytes; i += step) {
      sample.push_back(bodies[i]);
      taken += bodies[i].size();
    }
    for (const int capacity : capacities) {
      const auto t0 = Clock::now();
      std::string trained =
          vandrel::TBodyDictionary::Train(sample, static_cast<std::size_t>(capacity));
      const double train = Seconds(t0);
      if (trained.empty()) continue;
      for (const int level : levels) {
        const auto d = vandrel::TBodyDictionary::Load(
            trained, vandrel::TBodyDictionary::Use::kEncodeAndDecode, level);
        std::size_t stored = total - long_bytes;
        const auto t1 = Clock::now();
        for (const auto& b : bodies)
          stored += std::min(b.size(), 1 + vandrel::CompressBody(b, d.get()).size());
        const double per = Seconds(t1) * 1e9 / static_cast<double>(bodies.size());
        std::printf("%-8s %8zu %5d %12zu %8.2f %9.0f\n", mode, trained.size(), level, stored, train,
                    per);
      }
    }
  }
  return 0;
}
