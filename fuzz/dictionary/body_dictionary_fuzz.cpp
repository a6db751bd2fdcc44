// Fuzz target: the trained body dictionary (codec 2). The input's first two
// bytes give a length n; the next n bytes are loaded as a dictionary (a
// refusal is EBodyFormat) and the rest decoded with it as an image. The
// whole input is also decoded with a dictionary trained at start-up, and,
// when short, must come back through CompressBody with it. Anything but
// EBodyFormat, a crash or a wrong round trip is a finding.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"

namespace {

using vandrel::TBodyDictionary;

std::shared_ptr<const TBodyDictionary> FixedDictionary() {
  static const char* const kWords[] = {"house ",   "building ", "\x05home\x05 ", "<n> ",
                                       "to live ", "[arch.] ",  "roof; ",        "garden, "};
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < 2000; ++i) {
    std::string b = "w" + std::to_string(i) + " ";
    for (std::size_t k = 0; k < 10 + i % 13; ++k) b += kWords[(i * 5 + k * k) % 8];
    bodies.push_back(b);
  }
  const std::vector<std::string_view> sample(bodies.begin(), bodies.end());
  std::string bytes = TBodyDictionary::Train(sample, 4096);
  if (bytes.empty()) std::abort();
  return TBodyDictionary::Load(std::move(bytes), TBodyDictionary::Use::kEncodeAndDecode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::shared_ptr<const TBodyDictionary> fixed = FixedDictionary();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (size >= 2) {
    const std::size_t n = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
    try {
      const auto loaded = TBodyDictionary::Load(std::string(bytes.substr(2, n)));
      vandrel::DecompressBody(bytes.substr(2 + n), loaded.get());
    } catch (const vandrel::EBodyFormat&) {
    }
  }
  try {
    vandrel::DecompressBody(bytes, fixed.get());
  } catch (const vandrel::EBodyFormat&) {
  }
  if (size <= 4096) {
    const std::string image = vandrel::CompressBody(bytes, fixed.get());
    if (vandrel::DecompressBody(image, fixed.get()) != bytes) std::abort();
  }
  return 0;
}
