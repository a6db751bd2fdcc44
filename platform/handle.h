// Kernel-object handles: files, file mappings and find handles share one
// handle space, as on Win32, so that CloseHandle works on any of them.
// A HANDLE owns its object until CloseHandle (or FindClose) frees it.
#pragma once

#include <memory>

#include "platform/win_types.h"

namespace vandrel::win {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Takes ownership of the object and returns its new handle.
HANDLE NewHandle(std::unique_ptr<KernelObject> object);
// The live object behind a handle, or null (and ERROR_INVALID_HANDLE) when
// the handle is not open.
KernelObject* HandleObject(HANDLE handle);
// Typed lookup: null (ERROR_INVALID_HANDLE) when the handle is not open or
// its object is not a T.
template <class T>
T* HandleAs(HANDLE handle) {
  auto* object = dynamic_cast<T*>(HandleObject(handle));
  return object;
}
// Frees the object; FALSE with ERROR_INVALID_HANDLE for an unknown handle.
BOOL CloseHandle(HANDLE handle);

}  // namespace vandrel::win
