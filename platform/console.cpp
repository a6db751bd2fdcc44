// Terminal detection of the standard streams.
#include "platform/console.h"

#include <unistd.h>

namespace vandrel::win {

bool IsConsoleStream(DWORD std_handle) {
  int fd = std_handle == STD_INPUT_HANDLE ? 0 : std_handle == STD_OUTPUT_HANDLE ? 1 : 2;
  if (std_handle != STD_INPUT_HANDLE && std_handle != STD_OUTPUT_HANDLE &&
      std_handle != STD_ERROR_HANDLE) {
    return false;
  }
  return isatty(fd) == 1;
}

}  // namespace vandrel::win
