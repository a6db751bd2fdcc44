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

// The folder of the named shared-memory files (platform/shared_memory.h).
// The runtime directory's shm/ when the directory is on memory (tmpfs or
// ramfs). On a disk-backed file system, where closing an unlinked mapped
// file costs milliseconds, a private folder on /dev/shm instead:
// /dev/shm/vandrel-<uid>-<device>-<inode of the runtime directory>, mode
// 0700, refused like the runtime directory when another user owns it or
// others may enter it. Its file ".runtime" names the runtime directory, so
// that RemoveStaleSharedMemory can remove the folder once that directory is
// gone. Throws std::runtime_error with a clear text when /dev/shm is not a
// usable tmpfs.
const std::string& SharedMemoryDir();

// Where such folders are made, and the name of the file in each that names
// its runtime directory (first line) and that directory's device and inode
// (second line).
constexpr const char* kSharedMemoryRoot = "/dev/shm";
constexpr const char* kRuntimeMarker = ".runtime";

// Forgets the cached directories so that the next RuntimeDir() reads the
// environment again (tests that switch namespaces inside one process).
void ResetRuntimeDir();

}  // namespace vandrel::win
