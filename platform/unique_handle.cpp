// The closers behind the owning handle types.
#include "platform/unique_handle.h"

#include <unistd.h>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/mapping.h"

namespace vandrel::win {

bool HandleTraits::Free(HANDLE h) { return CloseHandle(h) != FALSE; }
bool ViewTraits::Free(void* v) { return UnmapViewOfFile(v) != FALSE; }
bool VirtualBlockTraits::Free(void* v) { return VirtualFree(v, 0, MEM_RELEASE) != FALSE; }
// A descriptor is gone after close(2) whatever it answers (EINTR included);
// the answer only reports lost writes.
bool FdTraits::Free(int fd) {
  if (::close(fd) == 0) return true;
  SetLastErrorFromErrno();
  return false;
}

// The stream is gone after fclose whatever it answers.
bool StdFileTraits::Free(std::FILE* f) {
  if (std::fclose(f) == 0) return true;
  SetLastErrorFromErrno();
  return false;
}

}  // namespace vandrel::win
