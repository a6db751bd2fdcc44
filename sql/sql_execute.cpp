// Statement execution.
#include "sql/sql_execute.h"

#include "engine/data_directory.h"
#include "sql/sql_statement.h"

namespace vandrel::sql {

void ExecuteSql(engine::TDataDirectory& dir, std::string_view text) {
  const engine::TableDef def = ParseStatement(text);
  dir.CreateTable(def);
}

}  // namespace vandrel::sql
