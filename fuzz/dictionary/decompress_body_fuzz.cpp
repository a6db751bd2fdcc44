// Fuzz target: DecompressBody on arbitrary images must decode or raise
// EBodyFormat; and any byte string must come back through CompressBody.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    vandrel::DecompressBody(bytes);
  } catch (const vandrel::EBodyFormat&) {
  }
  if (size <= 4096) {
    const std::string image = vandrel::CompressBody(bytes);
    if (vandrel::DecompressBody(image) != bytes) std::abort();
  }
  return 0;
}
