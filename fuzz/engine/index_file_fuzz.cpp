// Damaged index files of the word-update table: open, walk every index both
// ways, find, insert, delete and check give engine errors or findings,
// never a crash, an endless walk or a silently grown file.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/index_file.h"
#include "engine/record.h"
#include "engine/table_check.h"
#include "fuzz/engine/table_fuzz_support.h"

using namespace vandrel::engine;

namespace {

// A data file of the update table with 3 records, for the cross checks.
std::vector<std::uint8_t> StockData() {
  const auto fields = fuzz::UpdateFields();
  TDataHeader h;
  h.record_size = 70;
  h.field_count = 2;
  h.blob_field_count = 1;
  h.next_record = 4;
  h.locale = 0x0409;
  h.blob_block_size = 128;
  std::vector<std::uint8_t> d(kDataHeaderSize + 2 * kFieldDescSize + 3 * 70);
  EncodeDataHeader(h, d.data());
  for (int i = 0; i < 2; ++i) {
    EncodeFieldDesc(fields[i],
                    std::span<std::uint8_t, kFieldDescSize>(
                        d.data() + kDataHeaderSize + i * kFieldDescSize, kFieldDescSize));
  }
  const char* words[] = {"house", "Apple", "zebra"};
  for (int n = 1; n <= 3; ++n) {
    std::uint8_t* r = d.data() + kDataHeaderSize + 2 * kFieldDescSize + (n - 1) * 70;
    r[1] = static_cast<std::uint8_t>(n);
    field::SetString(r, fields[0], words[n - 1]);
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> stock = StockData();
  const std::vector<std::uint8_t> bytes(data, data + size);
  CheckTableBytes(stock, &bytes, nullptr);
  const std::string name = "FUZZ.IDX";
  fuzz::PutMemoryFile(name, data, size);
  const auto fields = fuzz::UpdateFields();
  try {
    TIndexFile x("Fuzz", true);
    x.OpenIndex(name, fields, 0x0409, false, true, false);
    const std::uint32_t eof = x.header().end_of_file;
    for (std::size_t s = 0; s < kIndexSlots; ++s) {
      if (!x.HasIndex(s)) continue;
      try {
        std::size_t steps = 0;
        for (TIndexPos p = x.First(s); p.valid() && steps < 100000; x.Next(s, p)) ++steps;
        steps = 0;
        for (TIndexPos p = x.Last(s); p.valid() && steps < 100000; x.Prior(s, p)) ++steps;
        x.KeyCount(s);
        std::vector<std::uint8_t> rec(70, 0);
        field::SetString(rec.data(), fields[0], "house");
        const auto key = x.BuildKey(s, rec.data());
        x.Find(s, key.data(), key.size());
        x.PositionByCount(s, 1);
        x.Insert(s, key.data(), 2);
        x.Delete(s, key.data(), 2);
        x.Delete(s, key.data(), 1);
      } catch (const EEngineError&) {
      }
    }
    // Only the allocator grows the file, one page per split at most.
    if (x.header().end_of_file > eof + 64 * kPageSize) __builtin_trap();
    x.CloseIndex();
  } catch (const EEngineError&) {
  }
  fuzz::DropMemoryFile(name);
  return 0;
}
