// The per-thread last error with Win32 numbers, the mapping from errno, and
// the text of an error number.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

// Error numbers the platform reports beyond the common ones (Win32 values).
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_FILE_INVALID = 1006;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;
constexpr DWORD ERROR_USER_MAPPED_FILE = 1224;

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
