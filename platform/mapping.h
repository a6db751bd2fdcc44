// File mappings and views: named shared memory on the paging file (files
// under the namespace's shm/ directory, mode 0600, with Win32 lifetime),
// read-only and read-write mappings of files in 64 KiB granules, explicit
// flush of a mapped range, and committed zero-filled private pages.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

namespace vandrel::win {

// Allocation granularity of views: offsets given to MapViewOfFile are
// multiples of it.
constexpr DWORD kAllocationGranularity = 65536;

// file == INVALID_HANDLE_VALUE: a named (or anonymous) shared-memory object
// of the given size. It lives while any handle or view of it lives; opening a
// name whose every handle and view is gone fails. GetLastError is
// ERROR_ALREADY_EXISTS (with a valid handle) when the name existed.
// Otherwise: a mapping of the open file; a size of 0 maps the current size.
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD size_high,
                          DWORD size_low, const char* name);
HANDLE OpenFileMappingA(DWORD access, BOOL inherit, const char* name);
// bytes 0 maps to the end of the object.
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                    std::size_t bytes);
BOOL UnmapViewOfFile(const void* base);
// The byte size of the live view that starts at base (for a view mapped
// whole: the size of the mapped object); 0 when no live view starts there
// (last error ERROR_INVALID_PARAMETER). Readers of a peer's shared memory
// check every offset they read against it.
std::size_t ViewSize(const void* base);
BOOL FlushViewOfFile(const void* base, std::size_t bytes);

// Private memory: zero-filled pages (MEM_RESERVE / MEM_COMMIT, PAGE_*).
void* VirtualAlloc(void* address, std::size_t size, DWORD type, DWORD protect);
BOOL VirtualFree(void* address, std::size_t size, DWORD type);

}  // namespace vandrel::win
