// The console: whether a standard stream of the process is a terminal
// (GetStdHandle followed by GetConsoleMode on the desktop), so that tools
// draw progress bars and colours only for a person watching.
#pragma once

#include "platform/win_types.h"

namespace vandrel::win {

constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// True when the standard stream (one of the three above) is a terminal.
bool IsConsoleStream(DWORD std_handle);

}  // namespace vandrel::win
