// The runtime's exception classes that every layer raises: Exception (a
// message and a help-context number), EAbort (the silent exception, never
// shown to a user) and EOSError (an operating-system failure, with the
// message "Win32 Error.  Code: %d.\n%s").
#pragma once

#include <stdexcept>
#include <string>

#include "platform/win_types.h"

namespace vandrel {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message, int help_context = 0)
      : std::runtime_error(message), help_context_(help_context) {}
  const std::string Message() const { return what(); }
  int HelpContext() const { return help_context_; }

 private:
  int help_context_;
};

// Silent: guards never show it and never turn it into an error answer.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EOSError : public Exception {
 public:
  EOSError(win::DWORD code, const std::string& message) : Exception(message), code_(code) {}
  win::DWORD ErrorCode() const { return code_; }

 private:
  win::DWORD code_;
};

// "Win32 Error.  Code: %d.\n%s" for the given error number and its text.
EOSError OSError(win::DWORD code);
// Raises OSError(GetLastError()).
[[noreturn]] void RaiseLastOSError();

}  // namespace vandrel
