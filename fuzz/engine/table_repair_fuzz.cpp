// Damaged tables through the repair run: whatever the three files hold,
// the run ends with an engine error or a report, never a crash or an
// endless walk; after a repair that did not give up, the table passes its
// check and a second run finds nothing.
//
// Input: a flags byte (1: index file present, 2: BLOB file present, 4:
// verify only), the data and index file lengths (u32 each, little-endian),
// then the data, index and BLOB file bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/table_check.h"
#include "engine/table_repair.h"
#include "fuzz/engine/table_fuzz_support.h"

using namespace vandrel::engine;

namespace {

std::vector<std::uint8_t> Whole(const std::string& name) {
  TFileHandler f(true);
  f.Open(name);
  std::vector<std::uint8_t> b(static_cast<std::size_t>(f.Size()));
  if (!b.empty()) f.ReadAt(0, b.data(), static_cast<std::int64_t>(b.size()));
  f.Close();
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  const std::uint8_t flags = data[0];
  std::uint32_t dat_len = 0, idx_len = 0;
  std::memcpy(&dat_len, data + 1, 4);
  std::memcpy(&idx_len, data + 5, 4);
  const std::size_t rest = size - 9;
  if (dat_len > rest || idx_len > rest - dat_len) return 0;
  const std::uint8_t* dat = data + 9;
  const std::uint8_t* idx = dat + dat_len;
  const std::uint8_t* blb = idx + idx_len;
  const std::size_t blb_len = rest - dat_len - idx_len;
  const char* const names[] = {"FUZZ.DAT", "FUZZ.IDX", "FUZZ.BLB"};
  fuzz::PutMemoryFile(names[0], dat, dat_len);
  if (flags & 1) fuzz::PutMemoryFile(names[1], idx, idx_len);
  if (flags & 2) fuzz::PutMemoryFile(names[2], blb, blb_len);
  try {
    TRepairOptions options;
    options.fix = (flags & 4) == 0;
    const TRepairReport r = RepairTableFiles("FUZZ", "Fuzz", true, options);
    if (options.fix && !r.unrepairable) {
      const std::vector<std::uint8_t> d = Whole(names[0]), i = Whole(names[1]);
      std::vector<std::uint8_t> b;
      const bool has_blob = TFileHandler::Exists(names[2], true);
      if (has_blob) b = Whole(names[2]);
      if (!CheckTableBytes(d, &i, has_blob ? &b : nullptr).Clean()) __builtin_trap();
      if (RepairTableFiles("FUZZ", "Fuzz", true, options).damaged) __builtin_trap();
    }
  } catch (const EEngineError&) {
  }
  for (const char* n : names) fuzz::DropMemoryFile(n);
  return 0;
}
