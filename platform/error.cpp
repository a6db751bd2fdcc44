// The per-thread last error, the one errno -> Win32 table, and the system's
// message texts for the error numbers Vandrel meets.
#include "platform/error.h"

#include <cerrno>

namespace vandrel::win {
namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

struct ErrnoEntry {
  int errno_value;
  DWORD code;
};

// The one place where an errno becomes a Win32 error number. EEXIST maps to
// ERROR_ALREADY_EXISTS; CreateFileA turns it into ERROR_FILE_EXISTS where
// Win32 does (CREATE_NEW).
constexpr ErrnoEntry kErrnoTable[] = {
    {0, ERROR_SUCCESS},
    {EPERM, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ESRCH, ERROR_INVALID_PARAMETER},
    {EINTR, ERROR_INVALID_FUNCTION},
    {EIO, ERROR_READ_FAULT},
    {ENXIO, ERROR_FILE_NOT_FOUND},
    {E2BIG, ERROR_INVALID_PARAMETER},
    {ENOEXEC, ERROR_INVALID_DATA},
    {EBADF, ERROR_INVALID_HANDLE},
    {ECHILD, ERROR_INVALID_PARAMETER},
    {EAGAIN, ERROR_LOCK_VIOLATION},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EACCES, ERROR_ACCESS_DENIED},
    {EFAULT, ERROR_INVALID_PARAMETER},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ENODEV, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EFBIG, ERROR_DISK_FULL},
    {ENOSPC, ERROR_DISK_FULL},
    {ESPIPE, ERROR_INVALID_PARAMETER},
    {EROFS, ERROR_ACCESS_DENIED},
    {EMLINK, ERROR_TOO_MANY_OPEN_FILES},
    {EPIPE, ERROR_BROKEN_PIPE},
    {EDOM, ERROR_INVALID_PARAMETER},
    {ERANGE, ERROR_INVALID_PARAMETER},
    {EDEADLK, ERROR_LOCK_VIOLATION},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOLCK, ERROR_LOCK_VIOLATION},
    {ENOSYS, ERROR_INVALID_FUNCTION},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ELOOP, ERROR_PATH_NOT_FOUND},
    {EOVERFLOW, ERROR_INVALID_PARAMETER},
    {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {ECONNREFUSED, ERROR_INVALID_WINDOW_HANDLE},
    {ECONNRESET, ERROR_BROKEN_PIPE},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {EDQUOT, ERROR_DISK_FULL},
};

struct MessageEntry {
  DWORD code;
  const char* text;
};

constexpr MessageEntry kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_FILE_INVALID,
     "The volume for a file has been externally altered so that the opened file is no longer "
     "valid."},
    {ERROR_MAPPED_ALIGNMENT,
     "The base address or the file offset specified does not have the proper alignment."},
    {ERROR_USER_MAPPED_FILE,
     "The requested operation cannot be performed on a file with a user-mapped section open."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
};

}  // namespace

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD code) { t_last_error = code; }

DWORD ErrorFromErrno(int errno_value) {
  for (const ErrnoEntry& e : kErrnoTable) {
    if (e.errno_value == errno_value) return e.code;
  }
  // An errno the table does not know still reports a failure, never success.
  return ERROR_INVALID_FUNCTION;
}

DWORD SetLastErrorFromErrno() {
  DWORD code = ErrorFromErrno(errno);
  t_last_error = code;
  return code;
}

std::string SysErrorMessage(DWORD code) {
  for (const MessageEntry& m : kMessages) {
    if (m.code == code) return m.text;
  }
  return "Unknown error " + std::to_string(code) + ".";
}

}  // namespace vandrel::win
