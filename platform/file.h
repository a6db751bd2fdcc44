// Files: open, create, read, write, seek, set end, size, flush, find,
// attributes, delete, move/replace, create directory, with Win32 share modes
// (a file opened without sharing is exclusive across processes) and Win32
// error numbers. Paths use '/' as on Linux.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win {

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
DWORD GetFileAttributesA(const char* name);
BOOL DeleteFileA(const char* name);
// Replacing an existing file is one atomic rename.
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
BOOL CreateDirectoryA(const char* name, void* security);

// True when name is a plain file name: not empty, no '/', '\\', NUL, and not
// "." or "..", and no ".." component. File names given by clients pass this
// check before any file is touched.
bool IsPlainFileName(const std::string& name);

}  // namespace vandrel::win
