// Executes one SQL statement in a database directory: the statement is
// parsed completely, then carried out (CREATE TABLE creates the table's
// files). A parse error creates nothing.
#pragma once

#include <string_view>

namespace vandrel::engine {
class TDataDirectory;
}

namespace vandrel::sql {

void ExecuteSql(engine::TDataDirectory& dir, std::string_view text);

}  // namespace vandrel::sql
