// Private pages: reserved address ranges whose pages are committed (zero
// filled, readable and writable as asked) and decommitted on demand.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/error.h"
#include "platform/mapping.h"

namespace vandrel::win {
namespace {

struct Reservations {
  std::mutex lock;
  std::map<std::uintptr_t, std::size_t> ranges;  // base -> length
};

Reservations& Table() {
  static Reservations* table = new Reservations;  // never destroyed
  return *table;
}

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

bool ProtectionOf(DWORD protect, int* prot) {
  switch (protect) {
    case PAGE_NOACCESS:
      *prot = PROT_NONE;
      return true;
    case PAGE_READONLY:
      *prot = PROT_READ;
      return true;
    case PAGE_READWRITE:
      *prot = PROT_READ | PROT_WRITE;
      return true;
    default:
      return false;
  }
}

// True when [start, start + length) lies inside one reservation.
bool InsideReservation(Reservations& table, std::uintptr_t start, std::size_t length) {
  auto it = table.ranges.upper_bound(start);
  if (it == table.ranges.begin()) return false;
  --it;
  return start >= it->first && length <= it->second && start - it->first <= it->second - length;
}

}  // namespace

void* VirtualAlloc(void* address, std::size_t size, DWORD type, DWORD protect) {
  int prot = 0;
  if (size == 0 || !ProtectionOf(protect, &prot) || (type & ~(MEM_RESERVE | MEM_COMMIT)) != 0 ||
      (type & (MEM_RESERVE | MEM_COMMIT)) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::size_t page = PageSize();
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address) & ~(page - 1);
  std::uintptr_t last = reinterpret_cast<std::uintptr_t>(address) + size;
  if (last < start || last > UINTPTR_MAX - page) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::size_t length = ((last + page - 1) & ~(page - 1)) - start;
  Reservations& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  if ((type & MEM_RESERVE) != 0 || address == nullptr) {
    bool commit = (type & MEM_COMMIT) != 0;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE);
    if (address != nullptr) flags |= MAP_FIXED_NOREPLACE;
    void* base =
        mmap(reinterpret_cast<void*>(start), length, commit ? prot : PROT_NONE, flags, -1, 0);
    if (base == MAP_FAILED) {
      SetLastError(errno == EEXIST ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (address != nullptr && reinterpret_cast<std::uintptr_t>(base) != start) {
      munmap(base, length);
      SetLastError(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    table.ranges[reinterpret_cast<std::uintptr_t>(base)] = length;
    return base;
  }
  // Commit inside a reservation: pages that were never committed, or were
  // decommitted, read as zeros; committed pages keep their bytes.
  if (!InsideReservation(table, start, length)) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  if (mprotect(reinterpret_cast<void*>(start), length, prot) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  return reinterpret_cast<void*>(start);
}

BOOL VirtualFree(void* address, std::size_t size, DWORD type) {
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address);
  Reservations& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  if (type == MEM_RELEASE) {
    auto it = table.ranges.find(start);
    if (size != 0 || it == table.ranges.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    munmap(address, it->second);
    table.ranges.erase(it);
    return TRUE;
  }
  if (type == MEM_DECOMMIT) {
    std::size_t page = PageSize();
    std::uintptr_t first = start & ~(page - 1);
    std::size_t length = 0;
    if (size == 0) {
      auto it = table.ranges.find(start);
      if (it == table.ranges.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      length = it->second;
    } else {
      if (start + size < start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      length = ((start + size + page - 1) & ~(page - 1)) - first;
    }
    if (!InsideReservation(table, first, length)) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    void* p = reinterpret_cast<void*>(first);
    if (madvise(p, length, MADV_DONTNEED) != 0 || mprotect(p, length, PROT_NONE) != 0) {
      SetLastErrorFromErrno();
      return FALSE;
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace vandrel::win
