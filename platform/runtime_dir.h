// The session namespace: the one directory that holds every named object of
// a desktop session (windows, endpoints, shared memory). It is
// $VANDREL_RUNTIME_DIR, else $XDG_RUNTIME_DIR/vandrel, else
// /dev/shm/vandrel-<uid>; created with mode 0700 and refused when another
// user owns it or group or others have any access to it.
#pragma once

#include <string>

namespace vandrel::win {

// The namespace directory, created on first use (with its shm/, win/, name/
// and ep/ sub-directories). Throws std::runtime_error with a clear text when
// the directory cannot be made or is not safe to use.
const std::string& RuntimeDir();

// Forgets the cached directory so that the next RuntimeDir() reads the
// environment again (tests that switch namespaces inside one process).
void ResetRuntimeDir();

}  // namespace vandrel::win
