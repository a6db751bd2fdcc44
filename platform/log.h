// The process's log: message boxes and the platform's own warnings, one line
// each, to standard error unless SetLogFile (window.h) redirected it.
#pragma once

#include <string_view>

namespace vandrel::win {

// Writes the line and a line break in one piece; safe from any thread.
void WriteLogLine(std::string_view line);

}  // namespace vandrel::win
