// File mappings and views: named shared memory on the paging file (files
// under the namespace's shm/ directory, mode 0600, with Win32 lifetime),
// read-only and read-write mappings of files in 64 KiB granules, explicit
// flush of a mapped range, and committed zero-filled private pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

// Allocation granularity of views: offsets given to MapViewOfFile are
// multiples of it.
constexpr DWORD kAllocationGranularity = 65536;

constexpr DWORD PAGE_NOACCESS = 0x01;

// file == INVALID_HANDLE_VALUE: a named (or anonymous) shared-memory object
// of the given size. It lives while any handle or view of it lives, in any
// process of the namespace; opening a name whose every handle and view is
// gone fails (ERROR_FILE_NOT_FOUND), also when its holders were killed.
// GetLastError is ERROR_ALREADY_EXISTS (with a valid handle to the existing
// object, of its own size) when the name existed, else ERROR_SUCCESS.
// Names are plain file names not starting with '.' (ERROR_INVALID_NAME).
// Otherwise: a mapping of the open file (the name must be null); a size of 0
// maps the current size (a file of 0 bytes fails with ERROR_FILE_INVALID); a
// PAGE_READWRITE mapping larger than the file extends the file. Deleting or
// replacing a file fails with ERROR_ACCESS_DENIED while a mapping object or
// view of it exists, in any process; the file handle may be closed at once.
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD size_high,
                          DWORD size_low, const char* name);
// Creates the named shared-memory object as CreateFileMappingA does, but
// runs init on its zero-filled bytes before any other process can open the
// name: an opener sees either no object or the initialised one. When a live
// object of that name exists, opens it, leaves init uncalled and sets
// ERROR_ALREADY_EXISTS.
using SharedMemoryInit = std::function<void(void* bytes, std::size_t size)>;
HANDLE CreateFileMappingInitA(DWORD protect, std::size_t size, const char* name,
                              const SharedMemoryInit& init);
// Opens a live named shared-memory object; the handle allows the views that
// access allows (FILE_MAP_READ: read-only views).
HANDLE OpenFileMappingA(DWORD access, BOOL inherit, const char* name);
// bytes 0 maps to the end of the object. The offset must be a multiple of
// kAllocationGranularity (ERROR_MAPPED_ALIGNMENT) and the view must lie
// inside the object (ERROR_ACCESS_DENIED). FILE_MAP_COPY gives a private
// copy-on-write view. A view keeps its object alive after its handle is
// closed, until UnmapViewOfFile.
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                    std::size_t bytes);
// As MapViewOfFile, at the given page-aligned address when it is not null;
// ERROR_INVALID_ADDRESS when anything else occupies that range.
void* MapViewOfFileEx(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                      std::size_t bytes, void* base_address);
// base must be the start of a live view (ERROR_INVALID_ADDRESS otherwise).
BOOL UnmapViewOfFile(const void* base);
// The byte size of the live view that starts at base (for a view mapped
// whole: the size of the mapped object); 0 when no live view starts there
// (last error ERROR_INVALID_PARAMETER). Readers of a peer's shared memory
// check every offset they read against it.
std::size_t ViewSize(const void* base);
// Files that shrink under a view. Touching a page of a view beyond the end
// of its file (another process truncated it) does not end the process: the
// rest of the view reads as zeros from then on, the view is marked damaged,
// and the calling thread's fault count moves. Code that reads mapped bytes
// it does not control compares MappingFaultCount() before and after, and
// fails what it was doing when it moved; a damaged view is never used again
// (unmap it, and map the file anew when it is still wanted).
//
// The number of such faults caught on the calling thread so far.
std::uint64_t MappingFaultCount();
// What the calling thread's latest caught fault concerned, for messages:
// "the file /path/EnRu.dic" or "the shared memory \"Vandrel_Transfer12\"";
// empty when none was caught.
std::string LastMappingFault();
// True when the view that contains address caught a fault.
bool ViewDamaged(const void* address);
// True when the view that starts at base caught a fault, or its file is now
// shorter than its mapping: check before using a view of a file that
// another process may cut.
bool ViewFileShrank(const void* base);

// Removes the named shared-memory objects of the namespace that no process
// holds any more (every holder ended without letting go: killed); returns
// how many. A process's own objects go when it ends normally.
std::size_t RemoveStaleSharedMemory();

// Writes the given range of a view (bytes 0: to the end of the view) to its
// file and waits until it is written. base may lie anywhere in a view.
BOOL FlushViewOfFile(const void* base, std::size_t bytes);

// Two calls of Vandrel's own (Win32 has no namesake) for a view that grows
// with its file, as a container's mapping does.
//
// Replaces the live view at base, a writable view of a whole file mapping,
// by a view of the whole of mapping, a larger mapping of the same file:
// the pages the old view had in memory stay mapped, so that touching them
// again costs no page fault. Returns the new base (the view may move), or
// null with the last error set, the old view left as it was:
// ERROR_INVALID_ADDRESS when no such view starts at base,
// ERROR_INVALID_PARAMETER when mapping is not a larger writable mapping of
// that view's file.
void* GrowViewOfFile(void* base, HANDLE mapping);
// Brings the pages of [address, address + bytes), which must lie in one
// view, into memory and maps them, writable when the view is, so that the
// first touch of each costs no page fault (a hint: pages may be dropped
// later). ERROR_INVALID_ADDRESS when the range is not inside one view; a
// range beyond the end of the view's file fails too.
BOOL PrefetchViewRange(const void* address, std::size_t bytes);

// Private memory: zero-filled pages (MEM_RESERVE / MEM_COMMIT, PAGE_*).
// MEM_RESERVE (with or without MEM_COMMIT) reserves a new range, at address
// when given; MEM_COMMIT alone commits pages inside a reserved range (pages
// committed anew read as zeros). VirtualFree: MEM_DECOMMIT returns pages to
// reserved, MEM_RELEASE (size 0, the reservation's base) frees the range.
void* VirtualAlloc(void* address, std::size_t size, DWORD type, DWORD protect);
BOOL VirtualFree(void* address, std::size_t size, DWORD type);

}  // namespace vandrel::win
