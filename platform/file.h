// Files: open, create, read, write, seek, set end, size, flush, find,
// attributes, delete, move/replace, create directory, with Win32 share modes
// (a file opened without sharing is exclusive across processes) and Win32
// error numbers. Paths use '/' as on Linux.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

// Access rights and flags beyond the common ones (Win32 values).
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  char cFileName[260] = {};
};

// Opens or creates a regular file. An open is refused with
// ERROR_SHARING_VIOLATION when another open (in any process) does not share
// what it asks for (read, write, delete) or uses what it does not share.
// CREATE_NEW on an existing file: ERROR_FILE_EXISTS; CREATE_ALWAYS and
// OPEN_ALWAYS set ERROR_ALREADY_EXISTS on success when the file existed,
// else ERROR_SUCCESS. Truncation happens only after the share check; a
// mapped file is not truncated (ERROR_USER_MAPPED_FILE). Write access to a
// read-only file, and any open of a directory, give ERROR_ACCESS_DENIED.
// flags: FILE_ATTRIBUTE_READONLY (a new file is read-only),
// FILE_FLAG_WRITE_THROUGH (writes reach the disk before they return),
// FILE_FLAG_DELETE_ON_CLOSE (the file goes when this handle closes; implies
// delete access); the other FILE_FLAG_* hints are accepted and ignored.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security,
                   DWORD disposition, DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, DWORD* size_high);
BOOL FlushFileBuffers(HANDLE file);
// Patterns such as "dir/*.dic" match names case-insensitively.
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);
// FILE_ATTRIBUTE_DIRECTORY for a folder; FILE_ATTRIBUTE_ARCHIVE for a file,
// plus FILE_ATTRIBUTE_READONLY when its owner may not write it.
DWORD GetFileAttributesA(const char* name);
// Fails with ERROR_SHARING_VIOLATION while an open does not share delete,
// and with ERROR_ACCESS_DENIED while the file is mapped, is read-only or is
// a folder.
BOOL DeleteFileA(const char* name);
// Renames a file or folder. Without MOVEFILE_REPLACE_EXISTING an existing
// target gives ERROR_ALREADY_EXISTS; with it, replacing an existing file is
// one atomic rename, refused with ERROR_ACCESS_DENIED while the target is
// open without delete sharing, mapped or read-only. A source open without
// delete sharing gives ERROR_SHARING_VIOLATION. MOVEFILE_WRITE_THROUGH
// returns after the rename is on disk.
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
BOOL CreateDirectoryA(const char* name, void* security);

// True when name is a plain file name: not empty, no '/', '\\', NUL, and not
// "." or "..", and no ".." component. File names given by clients pass this
// check before any file is touched.
bool IsPlainFileName(const std::string& name);

}  // namespace vandrel::win
