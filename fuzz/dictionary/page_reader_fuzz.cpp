// Fuzz target: the checked page reader on arbitrary pages. The input is the
// page (at most 64 KiB), copied to a buffer of exactly its size so that any
// read past the page is caught; every accepted item is read in full, as the
// dictionary reader reads a leaf entry.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dictionary/page_man.h"

namespace {
volatile unsigned sink;  // keeps the reads from being optimised away
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  auto page = std::make_unique<std::uint8_t[]>(size + 1);  // never empty
  std::memcpy(page.get(), data, size);
  vandrel::TPageMan man;
  man.Page = page.get();
  man.PageSize = static_cast<std::uint32_t>(size);
  int count = 0;
  if (!man.CheckedItemCount(count)) return 0;
  unsigned sum = 0;
  for (int i = -1; i <= count; ++i) {
    const std::uint8_t* ptr = nullptr;
    int n = 0;
    if (!man.CheckedItem(i, ptr, n)) continue;
    if (i < 0 || i >= count || n < 0 || ptr < page.get() + 2 + 2 * count ||
        ptr + n > page.get() + size)
      std::abort();
    if (ptr != man.ItemPtr(i) || n != man.ItemSize(i)) std::abort();
    for (int k = 0; k < n; ++k) sum += ptr[k];
    if (n >= 4) {
      const std::uint8_t* cursor = ptr;
      sum += static_cast<unsigned>(vandrel::TPageMan::GetInt(cursor));
      sum += static_cast<unsigned>(vandrel::TPageMan::GetStr(cursor, n - 4).size());
      sum += static_cast<unsigned>(vandrel::TPageMan::GetWideStr(cursor, 0).size());
      if (cursor != ptr + n) std::abort();
    }
  }
  sink = sum;
  return 0;
}
