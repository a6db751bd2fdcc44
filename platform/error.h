// The per-thread last error with Win32 numbers, the mapping from errno, and
// the text of an error number.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

DWORD GetLastError();
void SetLastError(DWORD code);
// Maps an errno value to the Win32 error number (one table).
DWORD ErrorFromErrno(int errno_value);
// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno();
// The system's message text for an error number, without a trailing line
// break ("The system cannot find the file specified.").
std::string SysErrorMessage(DWORD code);

}  // namespace vandrel::win
