// Statement dispatch.
#include "sql/sql_statement.h"

#include <string>

#include "sql/create_table_parser.h"
#include "sql/sql_error.h"
#include "sql/sql_tokenizer.h"

namespace vandrel::sql {

engine::TableDef ParseStatement(std::string_view text) {
  static constexpr std::string_view kOthers[] = {"SELECT", "INSERT", "UPDATE",
                                                 "DELETE", "ALTER",  "DROP"};
  Tokenizer tokens(text);
  const Token& first = tokens.Current();
  for (std::string_view k : kOthers) {
    if (first.Is(k)) RaiseSqlError(std::string(k) + " statement not supported");
  }
  if (!first.Is("CREATE")) {
    RaiseSqlError(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, "
        "instead found '" +
        first.text + "'");
  }
  tokens.Advance();
  if (tokens.Current().Is("INDEX")) RaiseSqlError("CREATE INDEX statement not supported");
  return ParseCreateTableBody(tokens);
}

}  // namespace vandrel::sql
