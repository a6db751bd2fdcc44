// Queries.
#include "dataset/engine_query.h"

#include "dataset/engine_session.h"
#include "sql/sql_execute.h"

namespace vandrel::dataset {

void TEngineQuery::ExecSQL() {
  std::string text;
  for (const std::string& line : SQL) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  TEngineSession& s = TEngineSession::Default();
  engine::TDataDirectory& dir = s.OpenDatabase(DatabaseName);
  try {
    sql::ExecuteSql(dir, text);
  } catch (...) {
    s.CloseDatabase(dir);
    throw;
  }
  s.CloseDatabase(dir);
}

}  // namespace vandrel::dataset
