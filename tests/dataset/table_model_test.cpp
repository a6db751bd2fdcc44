// A model test of the update table against std::map: random inserts,
// edits, deletes, key searches, nearest searches with short walks, and
// transactions committed or rolled back, in batches; after each batch the
// table is closed, checked file by file and compared whole with the model.
// VANDREL_MODEL_OPS sets the number of operations (default 20,000; the
// "slow" ctest entry runs 1,000,000).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "engine/base_list.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/table_check.h"
#include "sql/sql_execute.h"
#include "tests/support/test_support.h"

namespace vandrel::engine {
namespace {

const char kUpdateStatement[] =
    "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
    "SIZE 128 LANGUAGE \"English (USA)\" SORT \"Default order\");";

using Model = std::map<std::string, std::string>;

std::size_t Operations() {
  const char* v = std::getenv("VANDREL_MODEL_OPS");
  return v != nullptr && std::atol(v) > 0 ? static_cast<std::size_t>(std::atol(v)) : 20000;
}

TEST(TableModelTest, RandomOperationsMatchAMapAcrossBatchesAndTransactions) {
  vandrel::test::ScratchDir dir("vandrel-model");
  const std::string db = dir.path() + "/model.vbas\\";
  const std::size_t ops = Operations();
  const std::size_t batches = 10;
  // Words from a pool a little larger than the table grows to, so that
  // finds hit and miss and inserts meet existing keys.
  const std::size_t pool = std::max<std::size_t>(ops / 4, 200);
  std::mt19937 rng(2026);
  const auto word = [&] {
    std::mt19937 w(static_cast<unsigned>(rng() % pool));
    std::string s(1 + w() % 20, ' ');
    for (char& c : s) c = static_cast<char>('a' + w() % 26);
    return s;
  };
  TDataSession session;
  TDataDirectory& d = session.OpenDirectory(db);
  sql::ExecuteSql(d, kUpdateStatement);
  Model model;
  for (std::size_t b = 0; b < batches; ++b) {
    TDataCursor c(d);
    c.Open("Data", b % 2 == 0);  // exclusive and shared batches
    Model before = model;
    bool in_transaction = false;
    for (std::size_t i = 0; i < ops / batches; ++i) {
      if (i % 1000 == 0 && !in_transaction && rng() % 3 == 0) {
        c.Table().StartTransaction();
        before = model;
        in_transaction = true;
      } else if (i % 1000 == 999 && in_transaction) {
        if (rng() % 2 == 0) {
          c.Table().Rollback();
          model = before;
        } else {
          c.Table().Commit();
        }
        in_transaction = false;
      }
      const std::string w = word();
      const unsigned op = rng() % 10;
      const bool present = model.contains(w);
      ASSERT_EQ(c.FindKey({w}), present) << w;
      if (op < 4) {  // insert or replace
        const std::string t(rng() % 600, static_cast<char>('A' + rng() % 26));
        if (present) {
          c.Edit();
        } else {
          c.Insert();
          c.SetField(0, w);
        }
        c.SetField(1, t);
        c.Post();
        model[w] = t;
      } else if (op < 6) {
        if (present) {
          c.Delete();
          model.erase(w);
        }
      } else if (op < 8) {
        if (present) {
          ASSERT_EQ(c.GetField(1), model[w]) << w;
        }
      } else {  // nearest and a short walk
        c.FindNearest({w});
        auto it = model.lower_bound(w);
        for (int k = 0; k < 5 && it != model.end(); ++k, ++it) {
          ASSERT_EQ(c.GetField(0), it->first);
          c.Next();
        }
      }
    }
    if (in_transaction) c.Table().Commit();
    ASSERT_EQ(c.RecordCount(), model.size());
    c.Close();
    const TTableReport r = CheckTableFiles(db + "Data", false);
    std::string lines;
    for (const auto& l : r.Lines()) lines += l + "\n";
    ASSERT_TRUE(r.Clean()) << "batch " << b << "\n" << lines;
    TDataCursor all(d);
    all.Open("Data");
    Model seen;
    for (bool ok = all.First(); ok; ok = all.Next()) seen[all.GetField(0)] = all.GetField(1);
    ASSERT_EQ(seen, model) << "batch " << b;
  }
  session.CloseDirectory(d);
  TBaseList::Global().CloseAll();
}

}  // namespace
}  // namespace vandrel::engine
