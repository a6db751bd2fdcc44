// Decompression time of one stored body, as a reader pays it: for every
// compressed body of each .dic file given, the body is decompressed
// `repeat` times in a row with the thread's reused context (and the file's
// body dictionary for codec 2), and the mean of those runs is that body's
// time. Prints per file the codec, bodies, compressed bodies, stored and
// decompressed bytes of the compressed ones, and the median, 90th
// percentile and mean time per body.
// Usage: body_decompress_bench [--repeat N] FILE.dic...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dictionary/compression.h"
#include "dictionary/dic_table.h"

namespace {

using Clock = std::chrono::steady_clock;

int Run(const std::string& path, int repeat) {
  vandrel::TDicTable table;
  table.FileName = path;
  table.Open();
  const auto& dictionary = table.File()->BodyDictionary();
  std::vector<std::string> images;
  std::size_t bodies = 0;
  std::size_t stored = 0;
  int codec = 0;
  for (table.First(); !table.Eof(); table.Next()) {
    ++bodies;
    std::string body = table.Reader().GetStoredBody();
    if (body.size() < 2 || body[0] != '\0') continue;
    codec = std::max(codec, static_cast<int>(body[1]));
    stored += body.size();
    images.push_back(body.substr(1));
  }
  std::size_t plain = 0;
  std::vector<double> ns;
  ns.reserve(images.size());
  volatile std::size_t sink = 0;
  for (const std::string& image : images) {
    plain += vandrel::DecompressBody(image, dictionary.get()).size();  // warms the context
    const auto start = Clock::now();
    for (int r = 0; r < repeat; ++r)
      sink = sink + vandrel::DecompressBody(image, dictionary.get()).size();
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / repeat);
  }
  if (ns.empty()) {
    std::printf("%-28s no compressed bodies among %zu\n", path.c_str(), bodies);
    return 0;
  }
  std::vector<double> sorted = ns;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double v : ns) sum += v;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  std::printf(
      "%-28s codec %d  dictionary %6zu B  bodies %7zu  compressed %7zu  %9zu -> %9zu B"
      "  median %6.0f ns  p90 %6.0f ns  mean %6.0f ns\n",
      name.c_str(), codec, dictionary ? dictionary->Bytes().size() : std::size_t{0}, bodies,
      images.size(), plain, stored, sorted[sorted.size() / 2], sorted[sorted.size() * 9 / 10],
      sum / static_cast<double>(ns.size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 20;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: body_decompress_bench [--repeat N] FILE.dic...\n");
    return 2;
  }
  try {
    for (const std::string& f : files) Run(f, repeat);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "body_decompress_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
