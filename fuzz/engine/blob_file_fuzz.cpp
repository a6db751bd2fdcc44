// Damaged BLOB files of block size 128: open, load, check and free the
// chains records 1-3 could point at, save and shrink values; engine errors
// only, never a crash, an endless chain walk or a silently grown file.
#include <cstdint>
#include <vector>

#include "engine/blob_file.h"
#include "fuzz/engine/table_fuzz_support.h"

using namespace vandrel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = "FUZZ.BLB";
  fuzz::PutMemoryFile(name, data, size);
  try {
    TBlobFile b("Fuzz", true);
    b.OpenBlob(name, 128, false, true, false);
    const std::uint32_t eof = b.header().end_of_file;
    for (std::uint32_t first = 512; first < eof && first < 512 + 128 * 16; first += 128) {
      for (std::uint32_t r = 1; r <= 3; ++r) {
        try {
          b.Load(r, first);
        } catch (const EEngineError&) {
        }
        b.CheckChain(r, first, false);
      }
    }
    const std::vector<std::uint8_t> value(300, 7);
    try {
      const std::uint32_t first = b.Save(1, 512, value.data(), value.size());
      if (b.header().end_of_file > eof + 3 * 128) __builtin_trap();
      b.Save(1, first, value.data(), 20);
      b.Free(1, first);
    } catch (const EEngineError&) {
    }
    try {
      b.CheckChain(2, 512, true);
      b.Free(2, 512);
    } catch (const EEngineError&) {
    }
    b.CloseBlob();
  } catch (const EEngineError&) {
  }
  fuzz::DropMemoryFile(name);
  return 0;
}
