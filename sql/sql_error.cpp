// SQL parse errors as engine errors.
#include "sql/sql_error.h"

#include "engine/engine_error.h"

namespace vandrel::sql {

void RaiseSqlError(std::string text) {
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  engine::TEngineErrorInfo info;
  info.code = engine::kSqlError;
  info.extra = std::move(text);
  engine::RaiseEngineError(info);
}

}  // namespace vandrel::sql
