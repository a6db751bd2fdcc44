// Gzip data as the dictd reader takes it, from hostile bytes: the chunked
// reader (several threads, trusting nothing in the chunk list) and the
// reader that takes the member in order. Errors are exceptions or, for the
// chunked reader, no answer; whatever the chunked reader answers, the
// reader in order answers the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/exceptions.h"
#include "tools/common/gzip_file.h"

using namespace vandrel;
using namespace vandrel::tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  // Small limits: a bomb costs the fuzzer no memory.
  constexpr std::size_t kLimit = std::size_t{4} << 20;
  const std::optional<std::string> chunked = GunzipChunked(in, kLimit, 3);
  std::optional<std::string> in_order;
  try {
    in_order = GunzipBytes(in, "fuzz.dict.dz", kLimit);
  } catch (const Exception&) {
  }
  if (chunked && (!in_order || *in_order != *chunked)) std::abort();
  return 0;
}
