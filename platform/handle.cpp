// The process-wide handle table behind HANDLE.
#include "platform/handle.h"

#include <mutex>
#include <unordered_map>

#include "platform/error.h"

namespace vandrel::win {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::unique_ptr<KernelObject>> objects;
  std::uintptr_t next = 0x100;
};

Table& table() {
  static Table* t = new Table;  // never destroyed: handles may close during exit
  return *t;
}

}  // namespace

HANDLE NewHandle(std::unique_ptr<KernelObject> object) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.lock);
  std::uintptr_t key = t.next;
  t.next += 4;
  t.objects.emplace(key, std::move(object));
  return reinterpret_cast<HANDLE>(key);
}

KernelObject* HandleObject(HANDLE handle) {
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == t.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

BOOL CloseHandle(HANDLE handle) {
  std::unique_ptr<KernelObject> doomed;
  {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    doomed = std::move(it->second);
    t.objects.erase(it);
  }
  return TRUE;  // the object is destroyed outside the lock
}

}  // namespace vandrel::win
