// Fuzz target: SQL statements. Any text either parses into a table
// definition that keeps the stored limits, or raises the SQL error 11949
// with a message of at most 255 characters; nothing else escapes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/engine_error.h"
#include "engine/languages.h"
#include "sql/sql_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vandrel;
  if (size > 8192) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const engine::TableDef d = sql::ParseStatement(text);
    if (d.indexes.empty()) std::abort();
    for (std::size_t i = 0; i < d.fields.size(); ++i) {
      const engine::FieldDef& f = d.fields[i];
      if (f.number != i + 1 || f.name.empty() || f.name.size() > engine::kMaxFieldName) {
        std::abort();
      }
      if (f.description.size() > engine::kMaxDescription ||
          f.default_value.size() > engine::kMaxCheckText ||
          f.min_value.size() > engine::kMaxCheckText ||
          f.max_value.size() > engine::kMaxCheckText) {
        std::abort();
      }
      if ((f.type == engine::kFieldString || f.type == engine::kFieldBytes) &&
          (f.size < 1 || f.size > 250)) {
        std::abort();
      }
      if (f.type == engine::kFieldBlob &&
          (f.subtype < engine::kSubtypeBlobFirst || f.subtype > engine::kSubtypeBlobLast)) {
        std::abort();
      }
      if (f.type == engine::kFieldBcd && f.scale > 4) std::abort();
    }
    for (std::uint16_t n : d.indexes[0].fields) {
      if (n > d.fields.size()) std::abort();
    }
    if (d.description.size() > engine::kMaxDescription) std::abort();
    if (d.password.size() > engine::kMaxPassword || d.encrypted != !d.password.empty()) {
      std::abort();
    }
    if (d.language != 0 && engine::LanguageNameById(d.language).empty()) std::abort();
  } catch (const engine::EEngineError& e) {
    if (e.Code() != engine::kSqlError) std::abort();
    if (e.Entries().empty() || e.Entries()[0].text.size() > 255 + 12) std::abort();
  }
  return 0;
}
