// The operating-system error exception.
#include "platform/exceptions.h"

#include "platform/error.h"

namespace vandrel {

EOSError OSError(win::DWORD code) {
  return EOSError(
      code, "Win32 Error.  Code: " + std::to_string(code) + ".\n" + win::SysErrorMessage(code));
}

void RaiseLastOSError() { throw OSError(win::GetLastError()); }

}  // namespace vandrel
