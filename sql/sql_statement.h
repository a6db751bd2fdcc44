// Statement dispatch: the first keyword selects the statement. CREATE TABLE
// is the one statement the engine executes; SELECT, INSERT, UPDATE, DELETE,
// ALTER, DROP and CREATE INDEX are answered "<keyword> statement not
// supported" (engine error 11949).
#pragma once

#include <string_view>

#include "engine/table_definition.h"

namespace vandrel::sql {

// Parses one statement completely; only CREATE TABLE yields a definition.
engine::TableDef ParseStatement(std::string_view text);

}  // namespace vandrel::sql
