// Tables through the dataset layer: the update table made by its CREATE
// TABLE statement, creation refusals, the duplicate-key insert state,
// sessions seeing each other's posts, a lost index file, and a model test
// against std::map with reopen and the table check after every batch.
#include "dataset/engine_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dataset/engine_query.h"
#include "dataset/engine_session.h"
#include "engine/base_list.h"
#include "engine/data_cursor.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/table_check.h"
#include "tests/engine/table_files_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::dataset {
namespace {

using engine::EEngineError;

const char kUpdateStatement[] =
    "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
    "SIZE 128 LANGUAGE \"English (USA)\" SORT \"Default order\");";

class EngineTableTest : public ::testing::Test {
 protected:
  void TearDown() override { engine::TBaseList::Global().CloseAll(); }

  std::string Db() const { return dir_.path() + "/db.vbas\\"; }

  void Exec(const std::string& sql, const std::string& db = {}) {
    TEngineQuery q;
    q.DatabaseName = db.empty() ? Db() : db;
    q.SQL.push_back(sql);
    q.ExecSQL();
  }
  int ExecCode(const std::string& sql) {
    try {
      Exec(sql);
    } catch (const EEngineError& e) {
      return e.Code();
    }
    return 0;
  }
  void OpenData(TEngineTable& t, bool exclusive = true) {
    t.DatabaseName = Db();
    t.TableName = "Data";
    t.IndexFieldNames = "Word";
    t.Exclusive = exclusive;
    t.Open();
  }
  static bool Put(TEngineTable& t, const std::string& word, const std::string& trans) {
    t.Insert();
    t.SetFieldBytes(0, word);
    t.SetFieldBytes(1, trans);
    try {
      t.Post();
    } catch (const EEngineError& e) {
      EXPECT_EQ(e.Code(), engine::kDuplicateKey);
      t.Cancel();
      return false;
    }
    return true;
  }
  std::string CheckLines() {
    const engine::TTableReport r = engine::CheckTableFiles(Db() + "Data", false);
    std::string out;
    for (const auto& l : r.Lines()) out += l + "\n";
    return r.Clean() ? std::string() : out;
  }

  vandrel::test::ScratchDir dir_{"vandrel-dataset"};
};

TEST_F(EngineTableTest, UpdateStatementMakesTheUpdateTable) {
  Exec(kUpdateStatement);
  TEngineTable t;
  OpenData(t);
  ASSERT_EQ(t.FieldCount(), 2u);
  const engine::TFieldDesc& word = t.Cursor()->Field(0);
  const engine::TFieldDesc& trans = t.Cursor()->Field(1);
  EXPECT_EQ(word.name, "Word");
  EXPECT_EQ(word.type, engine::kTypeString);
  EXPECT_EQ(word.size, 50);
  EXPECT_EQ(trans.name, "Trans");
  EXPECT_EQ(trans.type, engine::kTypeBlob);
  EXPECT_EQ(trans.subtype, 22);
  EXPECT_EQ(t.LanguageId(), 0x0409);
  EXPECT_EQ(t.SortId(), 0);
  engine::TDataTable& table = t.Cursor()->Table();
  EXPECT_EQ(table.Data().record_size(), 70u);
  EXPECT_EQ(table.Data().block_size(), 128u);
  const engine::TIndexDesc& primary = table.Index().desc(engine::kPrimarySlot);
  EXPECT_EQ(primary.fields, std::vector<std::uint16_t>{1});
  EXPECT_EQ(primary.key_length, 52);
  EXPECT_FALSE(primary.descending);
  EXPECT_FALSE(primary.case_insensitive);
  EXPECT_EQ(primary.compression, 0);
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 0u);
  EXPECT_EQ(t.RecNo(), 0u);

  // Rows come back in key order, BLOBs whole (111 bytes: two blocks).
  const std::string long_trans(111, 'x');
  EXPECT_TRUE(Put(t, "beta", "B"));
  EXPECT_TRUE(Put(t, "alpha", long_trans));
  EXPECT_TRUE(Put(t, "gamma", ""));
  t.First();
  EXPECT_EQ(t.FieldBytes(0), "alpha");
  EXPECT_EQ(t.FieldBytes(1), long_trans);
  EXPECT_EQ(t.RecNo(), 1u);
  t.Next();
  EXPECT_EQ(t.FieldBytes(0), "beta");
  t.Next();
  EXPECT_EQ(t.FieldBytes(0), "gamma");
  EXPECT_EQ(t.FieldBytes(1), "");
  EXPECT_EQ(t.RecNo(), 3u);
  t.Next();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecNo(), 3u);  // stays on the last record
  EXPECT_EQ(t.RecordCount(), 3u);
  t.Close();
  EXPECT_EQ(CheckLines(), "");
}

TEST_F(EngineTableTest, CreateRefusals) {
  Exec(kUpdateStatement);
  EXPECT_EQ(ExecCode(kUpdateStatement), engine::kTableExists);  // never overwritten
  EXPECT_EQ(ExecCode("CREATE TABLE 'a/b' (a INTEGER)"), engine::kInvalidPath);
  EXPECT_EQ(ExecCode("CREATE TABLE 'a\\b' (a INTEGER)"), engine::kInvalidPath);
  EXPECT_EQ(ExecCode("CREATE TABLE 'a:b' (a INTEGER)"), engine::kInvalidPath);
  EXPECT_EQ(ExecCode(std::string("CREATE TABLE 'a") + '\0' + "b' (a INTEGER)"),
            engine::kInvalidPath);
  EXPECT_EQ(ExecCode("CREATE TABLE '' (a INTEGER)"), engine::kInvalidPath);
  EXPECT_EQ(ExecCode("CREATE TABLE '" + std::string(60, 'n') + "' (a INTEGER)"),
            engine::kInvalidPath);
  EXPECT_EQ(ExecCode("CREATE TABLE '" + std::string(59, 'n') + "' (a INTEGER)"), 0);
  EXPECT_EQ(ExecCode("CREATE TABLE K (a INTEGER PRIMARY KEY (b))"), engine::kInvalidIndexField);
  EXPECT_EQ(ExecCode("CREATE TABLE B (a BLOB(0,1) BLOB BLOCK SIZE 65600)"),
            engine::kBlobFieldsOrBlockSize);
  EXPECT_EQ(ExecCode("CREATE TABLE B (a BLOB(0,1) BLOB BLOCK SIZE 18)"),
            engine::kBlobFieldsOrBlockSize);
  EXPECT_EQ(ExecCode("CREATE TABLE E ()"), engine::kFieldLimits);
  EXPECT_EQ(ExecCode("CREATE TABLE P (a INTEGER ENCRYPTED WITH '0123456789abcdef')"),
            engine::kInvalidPassword);
  EXPECT_EQ(ExecCode("CREATE TABLE P (a INTEGER ENCRYPTED WITH '   ')"), engine::kInvalidPassword);
  EXPECT_EQ(ExecCode("SELECT * FROM Data"), engine::kSqlError);
  // None of the refused statements left a file behind.
  for (const char* name : {"K", "B", "E", "P"}) {
    EXPECT_FALSE(engine::TFileHandler::Exists(Db() + name + ".DAT")) << name;
    EXPECT_FALSE(engine::TFileHandler::Exists(Db() + name + ".IDX")) << name;
  }
  try {
    Exec(kUpdateStatement);
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "Engine Error # 13060 The table 'Data' already exists");
  }
}

TEST_F(EngineTableTest, DuplicateKeyKeepsTheInsertStateUntilCancel) {
  Exec(kUpdateStatement);
  TEngineTable t;
  OpenData(t);
  ASSERT_TRUE(Put(t, "word", "first"));
  t.Insert();
  t.SetFieldBytes(0, "word");
  t.SetFieldBytes(1, "second");
  try {
    t.Post();
    FAIL() << "duplicate posted";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), engine::kDuplicateKey);
    EXPECT_STREQ(e.what(),
                 "Engine Error # 9729 Duplicate key found in index 'Primary' of table 'Data'");
  }
  EXPECT_EQ(t.State(), engine::TDataCursor::kInsert);
  EXPECT_EQ(t.FieldBytes(1), "second");
  EXPECT_THROW(t.Post(), EEngineError);  // still refused, still inserting
  EXPECT_EQ(t.State(), engine::TDataCursor::kInsert);
  t.Cancel();
  EXPECT_EQ(t.State(), engine::TDataCursor::kBrowse);
  EXPECT_EQ(t.RecordCount(), 1u);
  ASSERT_TRUE(t.FindKey("word"));
  EXPECT_EQ(t.FieldBytes(1), "first");
  // Edit, then cancel: nothing changes; edit and post: the new value.
  t.Edit();
  t.SetFieldBytes(1, "changed");
  t.Cancel();
  EXPECT_EQ(t.FieldBytes(1), "first");
  t.Edit();
  t.SetFieldBytes(1, "first; second");
  t.Post();
  t.Close();
  EXPECT_EQ(CheckLines(), "");
  OpenData(t);
  ASSERT_TRUE(t.FindKey("word"));
  EXPECT_EQ(t.FieldBytes(1), "first; second");
  EXPECT_FALSE(t.FindKey("wor"));
  EXPECT_FALSE(t.FindKey("words"));
}

TEST_F(EngineTableTest, SessionsSeeEachOthersPosts) {
  Exec(kUpdateStatement);
  engine::TDataSession s1, s2;
  engine::TDataDirectory& d1 = s1.OpenDirectory(Db());
  engine::TDataDirectory& d2 = s2.OpenDirectory(Db());
  {
    engine::TDataCursor a(d1), b(d2);
    a.Open("Data");
    b.Open("Data");
    EXPECT_EQ(b.RecordCount(), 0u);
    a.Insert();
    a.SetField(0, "apple");
    a.SetField(1, "Apfel");
    a.Post();
    EXPECT_EQ(b.RecordCount(), 1u);
    ASSERT_TRUE(b.FindKey({"apple"}));
    EXPECT_EQ(b.GetField(1), "Apfel");
    // b edits what a reads next.
    b.Edit();
    b.SetField(1, "Apfel; Paradeiser");
    b.Post();
    ASSERT_TRUE(a.FindKey({"apple"}));
    EXPECT_EQ(a.GetField(1), "Apfel; Paradeiser");
    // A record another session deleted cannot be edited: 8708.
    b.Delete();
    try {
      a.Edit();
      FAIL();
    } catch (const EEngineError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Engine Error # 8708 ", 0), 0u) << e.what();
    }
    // An exclusive open of a shared table is refused.
    engine::TDataCursor c(d1);
    EXPECT_THROW(c.Open("Data", true), EEngineError);
  }
  s1.CloseDirectory(d1);
  s2.CloseDirectory(d2);
  EXPECT_EQ(CheckLines(), "");
}

TEST_F(EngineTableTest, EmptyTableNeedsAnExclusiveOpen) {
  Exec(kUpdateStatement);
  {
    TEngineTable shared;
    OpenData(shared, false);
    Put(shared, "a", "1");
    try {
      shared.Cursor()->EmptyTable();
      FAIL();
    } catch (const EEngineError& e) {
      EXPECT_EQ(e.Code(), engine::kMustBeExclusive);
    }
  }
  TEngineTable t;
  OpenData(t);
  Put(t, "b", std::string(500, 'b'));
  t.Cursor()->EmptyTable();
  EXPECT_EQ(t.RecordCount(), 0u);
  t.First();
  EXPECT_TRUE(t.Eof());
  EXPECT_TRUE(Put(t, "a", "again"));
  EXPECT_EQ(t.RecordCount(), 1u);
  t.Close();
  EXPECT_EQ(CheckLines(), "");
}

TEST_F(EngineTableTest, LostIndexFileOpensReadOnly) {
  Exec(kUpdateStatement);
  {
    TEngineTable t;
    OpenData(t);
    Put(t, "a", "1");
  }
  engine::TFileHandler::DeleteFile(Db() + "Data.IDX", false, "Data");
  TEngineTable t;
  t.DatabaseName = Db();
  t.TableName = "Data";
  t.Open();
  EXPECT_TRUE(t.Cursor()->Table().ReadOnly());
  EXPECT_TRUE(t.Cursor()->Table().IndexNeedsRebuild());
  try {
    t.Insert();
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), engine::kAccessDenied);
  }
}

TEST_F(EngineTableTest, ModelOfRandomChangesWithReopen) {
  Exec(kUpdateStatement);
  std::map<std::string, std::string> model;
  std::mt19937 rng(14);
  auto word = [&] {
    std::string w;
    const int len = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < len; ++i) w += static_cast<char>('a' + rng() % 6);
    return w;
  };
  auto trans = [&] { return std::string(rng() % 300, static_cast<char>('A' + rng() % 26)); };
  const int kBatches = 20, kOps = 500;
  for (int batch = 0; batch < kBatches; ++batch) {
    TEngineTable t;
    OpenData(t, batch % 2 == 0);  // exclusive and shared in turn
    ASSERT_EQ(t.RecordCount(), model.size());
    for (int op = 0; op < kOps; ++op) {
      const int kind = static_cast<int>(rng() % 10);
      const std::string w = word();
      if (kind < 4) {  // insert
        const std::string tr = trans();
        const bool fresh = model.count(w) == 0;
        ASSERT_EQ(Put(t, w, tr), fresh) << w;
        if (fresh) model[w] = tr;
      } else if (kind < 6) {  // edit
        const bool found = t.FindKey(w);
        ASSERT_EQ(found, model.count(w) == 1) << w;
        if (found) {
          const std::string tr = trans();
          t.Edit();
          t.SetFieldBytes(1, tr);
          t.Post();
          model[w] = tr;
        }
      } else if (kind < 7) {  // delete
        const bool found = t.FindKey(w);
        ASSERT_EQ(found, model.count(w) == 1) << w;
        if (found) {
          t.Delete();
          model.erase(w);
        }
      } else if (kind < 9) {  // find
        const auto it = model.find(w);
        ASSERT_EQ(t.FindKey(w), it != model.end()) << w;
        if (it != model.end()) {
          EXPECT_EQ(t.FieldBytes(1), it->second);
          EXPECT_EQ(t.RecNo(), static_cast<std::uint64_t>(std::distance(model.begin(), it)) + 1);
        }
      } else {  // a short walk from a key
        auto it = model.lower_bound(w);
        if (it == model.end() || !t.FindKey(it->first)) continue;
        for (int k = 0; k < 5 && it != model.end(); ++k, ++it) {
          ASSERT_FALSE(t.Eof());
          EXPECT_EQ(t.FieldBytes(0), it->first);
          t.Next();
        }
      }
      ASSERT_EQ(t.RecordCount(), model.size());
    }
    // A full walk equals the model.
    t.First();
    std::uint64_t n = 0;
    for (const auto& [w, tr] : model) {
      ASSERT_FALSE(t.Eof());
      ASSERT_EQ(t.FieldBytes(0), w);
      ASSERT_EQ(t.FieldBytes(1), tr);
      ASSERT_EQ(t.RecNo(), ++n);
      t.Next();
    }
    EXPECT_TRUE(t.Eof());
    t.Close();
    ASSERT_EQ(CheckLines(), "") << "batch " << batch;
  }
}

}  // namespace
}  // namespace vandrel::dataset

namespace vandrel::dataset {
namespace {

std::vector<std::uint8_t> ReadAll(const std::string& name) {
  engine::TFileHandler f;
  f.Open(name, engine::TFileHandlerOptions{.read_only = true});
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(f.Size()));
  if (!bytes.empty()) f.ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  f.Close();
  return bytes;
}

// The statement's table, filled through the dataset layer, is byte for byte
// the table the file layer makes from the update table's descriptors (but
// for change counts and the time of the last update).
TEST_F(EngineTableTest, StatementFilesEqualTheUpdateTableFiles) {
  Exec(kUpdateStatement);
  {
    TEngineTable t;
    OpenData(t);
    ASSERT_TRUE(Put(t, "house", std::string(111, 'h')));
    ASSERT_TRUE(Put(t, "Apple", "abc"));
    ASSERT_TRUE(Put(t, "zebra", ""));
  }
  const std::string other = dir_.path() + "/other.vbas\\DATA";
  {
    engine::test::TableFiles t(other);
    engine::TIndexDesc primary;
    primary.fields = {1};
    t.Create(engine::test::UpdateTableParams(), primary);
    ASSERT_TRUE(t.InsertWord("house", std::string(111, 'h')));
    ASSERT_TRUE(t.InsertWord("Apple", "abc"));
    ASSERT_TRUE(t.InsertWord("zebra", ""));
    t.Close();
  }
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    SCOPED_TRACE(ext);
    auto mine = ReadAll(Db() + "Data" + ext);
    auto theirs = ReadAll(other + ext);
    ASSERT_EQ(mine.size(), theirs.size());
    ASSERT_GE(mine.size(), 35u);
    std::memset(mine.data(), 0, 4);  // change counts
    std::memset(theirs.data(), 0, 4);
    if (std::string(ext) == ".DAT") {
      std::memset(mine.data() + 27, 0, 8);  // last update
      std::memset(theirs.data() + 27, 0, 8);
    }
    for (std::size_t i = 0; i < mine.size(); ++i) {
      ASSERT_EQ(mine[i], theirs[i]) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace vandrel::dataset
