// `vandrel engine sql` and `vandrel engine dump` as real processes: a table
// made by the command, filled here, dumped by the command.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dataset/engine_table.h"
#include "engine/base_list.h"
#include "tests/support/test_support.h"

namespace vandrel::dataset {
namespace {

struct Result {
  int status = -1;
  std::string out;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result RunEngine(const std::string& args) {
  Result r;
  const std::string cmd = vandrel::test::BinDir() + "/vandrel engine " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(EngineCommands, SqlThenDump) {
  vandrel::test::ScratchDir dir("vandrel-engine-cmd");
  const std::string db = dir.path() + "/words.vbas";
  Result r =
      RunEngine("sql " + Quote(db) + " " +
                Quote("CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1), N INTEGER "
                      "PRIMARY KEY(Word) BLOB BLOCK SIZE 128 LANGUAGE \"English (USA)\" SORT "
                      "\"Default order\");"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");

  r = RunEngine("sql " + Quote(db) + " " + Quote("CREATE TABLE Data (a INTEGER)"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "vandrel engine sql: Engine Error # 13060 The table 'Data' already exists\n");
  r = RunEngine("sql " + Quote(db) + " " + Quote("DROP TABLE Data"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "vandrel engine sql: Engine Error # 11949 SQL error - DROP statement not "
            "supported\n");

  {
    TEngineTable t;
    t.DatabaseName = db + "\\";
    t.TableName = "Data";
    t.Open();
    t.Insert();
    t.SetFieldBytes(0, "zebra");
    t.SetFieldBytes(1, std::string("tab\there\nline\\ \x01", 16));
    t.SetFieldBytes(2, std::string("\xFF\xFF\xFF\xFF", 4));
    t.Post();
    t.Insert();
    t.SetFieldBytes(0, "apple");
    t.Post();
  }
  engine::TBaseList::Global().CloseAll();

  r = RunEngine("dump " + Quote(db) + " Data");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "Word\tTrans\tN\n"
            "apple\t\t\n"
            "zebra\ttab\\there\\nline\\\\ \\x01\t-1\n");
  r = RunEngine("dump " + Quote(db) + " Missing");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Engine Error # "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vandrel::dataset
