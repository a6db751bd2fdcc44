// The process's log: message boxes and the platform's own warnings, one line
// each, to standard error unless SetLogFile (window.h) redirected it.
#pragma once

#include <string_view>

namespace vandrel::win {

// Writes the line and a line break in one piece; safe from any thread. A
// line equal to the one before is not written again: the repeats are summed
// up ("... "<line>" repeated 2,000 times") when another line comes, or
// every 10 s while they go on, so a flood of one failure cannot fill the log.
void WriteLogLine(std::string_view line);

}  // namespace vandrel::win
