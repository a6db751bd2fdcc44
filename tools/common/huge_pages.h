// Asking the kernel to back large buffers with huge pages: a buffer of
// some hundred MB then takes a few hundred page faults instead of tens of
// thousands, which on a virtual machine costs more than filling it.
#pragma once

#include <cstddef>

namespace vandrel::tools {

// Buffers smaller than this are left alone.
inline constexpr std::size_t kHugePageWorthy = std::size_t{8} << 20;

// Advises huge pages for the whole 2 MiB pages inside [data, data + size)
// that nothing has touched yet (a fresh allocation); a hint only: nothing
// happens where the system does not offer them.
void AdviseHugePages(void* data, std::size_t size);

}  // namespace vandrel::tools
