// The spelling rules of the names the engine stores and compares: table,
// field and index names compare blank-trimmed and upper-cased in ASCII, and
// a field or index name starts with a letter, '_' or a byte 129 ... 254.
#pragma once

#include <string>
#include <string_view>

namespace vandrel::engine {

// ASCII letters upper-cased, other bytes unchanged.
std::string UpperAscii(std::string_view s);
// Leading and trailing blanks removed.
std::string TrimBlanks(std::string_view s);
// The comparison form of a field or index name.
inline std::string UpperTrim(std::string_view s) { return UpperAscii(TrimBlanks(s)); }
bool ValidNameStart(unsigned char c);

}  // namespace vandrel::engine
