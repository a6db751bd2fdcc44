// One command line of the DICT protocol (RFC 2229) split into its words:
// atoms separated by spaces or tabs, and quoted strings ("..." or '...')
// in which a backslash takes the next character literally. Command names
// are matched without letter case; arguments keep theirs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel::dictd {

// The longest command line a client may send, CR LF included.
constexpr std::size_t kMaxLine = 1024;

// false for an unbalanced quote (words then holds what came before it).
bool SplitCommand(std::string_view line, std::vector<std::string>& words);

// ASCII letters without case.
bool SameKeyword(std::string_view a, std::string_view b);

// A reply text line as sent inside a text answer: a line that begins with
// "." gets a second one (the lone "." ends the text).
std::string DotStuffed(std::string_view line);

// Words as they go into a reply: quoted, with " and \ escaped.
std::string Quoted(std::string_view text);

}  // namespace vandrel::dictd
