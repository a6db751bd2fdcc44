// How the SQL layer reports a statement it cannot take: one engine error
// (11949, "SQL error - <text>") whose text says what was wrong, cut to 255
// characters.
#pragma once

#include <string>

namespace vandrel::sql {

constexpr std::size_t kMaxErrorText = 255;

[[noreturn]] void RaiseSqlError(std::string text);

}  // namespace vandrel::sql
