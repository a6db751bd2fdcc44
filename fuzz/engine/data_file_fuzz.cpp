// Damaged data files: open, read every record, insert, delete and check
// give engine errors or findings, never a crash, a hang or a grown file.
#include <cstdint>
#include <vector>

#include "engine/table_check.h"
#include "fuzz/engine/table_fuzz_support.h"

using namespace vandrel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  CheckTableBytes(bytes, nullptr, nullptr);
  const std::string name = "FUZZ.DAT";
  fuzz::PutMemoryFile(name, data, size);
  try {
    TDataFile d("Fuzz", true);
    d.OpenTable(name, true, false);
    const std::uint32_t n = d.record_count();
    for (std::uint32_t i = 1; i <= n && i <= 2000; ++i) {
      TPinnedRecord r = d.GetRecord(i);
      (void)r->deleted();
    }
    {
      TPinnedRecord r = d.AllocateRecord(false, true);
      if (r->number() > n + 1) __builtin_trap();  // appends by one at most
    }
    if (n >= 1) d.DeleteRecord(1);
    d.CloseTable();
  } catch (const EEngineError&) {
  }
  fuzz::DropMemoryFile(name);
  return 0;
}
