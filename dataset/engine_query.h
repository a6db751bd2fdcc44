// TEngineQuery: runs SQL text that returns no rows (CREATE TABLE) in a
// database of the process-wide session.
//
//   TEngineQuery q;
//   q.DatabaseName = "Updates.tmp\\";
//   q.SQL.push_back("CREATE TABLE Data (...)");
//   q.ExecSQL();   // EEngineError on failure; nothing created by a bad statement
#pragma once

#include <string>
#include <vector>

namespace vandrel::dataset {

class TEngineQuery {
 public:
  std::string DatabaseName;
  std::vector<std::string> SQL;  // lines, joined with line breaks

  void ExecSQL();
};

}  // namespace vandrel::dataset
