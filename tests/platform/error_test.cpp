// The last error is per thread, errno maps to Win32 numbers, and each number
// has the system's text.
#include "platform/error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/exceptions.h"

namespace vandrel::win {
namespace {

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen_in_other = 12345;
  std::thread other([&] {
    seen_in_other = GetLastError();
    SetLastError(ERROR_SHARING_VIOLATION);
  });
  other.join();
  EXPECT_EQ(seen_in_other, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, MapsErrnoToWin32Numbers) {
  struct Case {
    int errno_value;
    DWORD code;
  };
  const Case cases[] = {
      {ENOENT, 2},   {ENOTDIR, 3},  {EMFILE, 4},   {ENFILE, 4},         {EACCES, 5},
      {EPERM, 5},    {EBADF, 6},    {ENOMEM, 8},   {EXDEV, 17},         {EBUSY, 32},
      {EEXIST, 183}, {ENOSPC, 112}, {EDQUOT, 112}, {ENAMETOOLONG, 206}, {ENOTEMPTY, 145},
      {EINVAL, 87},  {0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorFromErrno(c.errno_value), c.code) << "errno " << c.errno_value;
  }
  // An unknown errno is still a failure.
  EXPECT_NE(ErrorFromErrno(100000), ERROR_SUCCESS);

  errno = ENOENT;
  EXPECT_EQ(SetLastErrorFromErrno(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(LastError, MessagesUseTheSystemsWording) {
  EXPECT_EQ(SysErrorMessage(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(SysErrorMessage(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified.");
  EXPECT_EQ(SysErrorMessage(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(SysErrorMessage(ERROR_SHARING_VIOLATION),
            "The process cannot access the file because it is being used by another process.");
  EXPECT_EQ(SysErrorMessage(ERROR_ALREADY_EXISTS),
            "Cannot create a file when that file already exists.");
  EXPECT_EQ(SysErrorMessage(ERROR_HANDLE_EOF), "Reached the end of the file.");
  // No text ends with a line break, and every number has some text.
  for (DWORD code = 0; code < 2000; ++code) {
    std::string text = SysErrorMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n') << code;
  }
}

TEST(LastError, OsErrorCarriesCodeAndText) {
  EOSError e = OSError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(e.ErrorCode(), ERROR_FILE_NOT_FOUND);
  EXPECT_STREQ(e.what(), "Win32 Error.  Code: 2.\nThe system cannot find the file specified.");
}

}  // namespace
}  // namespace vandrel::win
