// Huge pages for large fresh buffers.
#include "tools/common/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace vandrel::tools {

void AdviseHugePages(void* data, std::size_t size) {
  if (size < kHugePageWorthy) return;
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (at + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (at + size) & ~(kHuge - 1);
  if (end <= begin) return;
  // Refused (EINVAL) where huge pages are not built in: nothing lost.
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace vandrel::tools
