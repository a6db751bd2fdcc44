// Tables shared by sessions of one process: transactions (rollback leaves
// the model as it was even when the caches overflow, commit is seen by the
// other session), locks of in-memory tables failing at once and locks
// inside containers always succeeding, ranges and filters of cursors, and
// an emptied table seen by a second session.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>

#include "engine/base_list.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "engine/table_check.h"
#include "sql/sql_execute.h"
#include "tests/support/test_support.h"

namespace vandrel::engine {
namespace {

const char kUpdateStatement[] =
    "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
    "SIZE 128 LANGUAGE \"English (USA)\" SORT \"Default order\");";

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EEngineError& e) {
    return e.Code();
  }
  return 0;
}

using Model = std::map<std::string, std::string>;

void Put(TDataCursor& c, const std::string& word, const std::string& trans) {
  if (c.FindKey({word})) {
    c.Edit();
  } else {
    c.Insert();
    c.SetField(0, word);
  }
  c.SetField(1, trans);
  c.Post();
}

Model Read(TDataCursor& c) {
  Model m;
  for (bool ok = c.First(); ok; ok = c.Next()) m[c.GetField(0)] = c.GetField(1);
  return m;
}

std::string Word(std::mt19937& rng) {
  std::string w(1 + rng() % 12, ' ');
  for (char& ch : w) ch = static_cast<char>('a' + rng() % 26);
  return w;
}

class TableSessionsTest : public ::testing::Test {
 protected:
  void TearDown() override { TBaseList::Global().CloseAll(); }
  std::string Db() const { return dir_.path() + "/db.vbas\\"; }
  void Create(TDataDirectory& d) { sql::ExecuteSql(d, kUpdateStatement); }
  std::string CheckLines() {
    const TTableReport r = CheckTableFiles(Db() + "Data", false);
    std::string out;
    for (const auto& l : r.Lines()) out += l + "\n";
    return r.Clean() ? std::string() : out;
  }

  vandrel::test::ScratchDir dir_{"vandrel-sessions"};
};

// Inserts, edits and deletes inside a transaction, with caches far smaller
// than the change: nothing reaches the files, and a rollback gives the
// table before it back, in this session, in another one and after reopen.
TEST_F(TableSessionsTest, RollbackRestoresTheTableEvenPastTheCacheSizes) {
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    TDataSession s;
    TDataDirectory& d = s.OpenDirectory(Db());
    if (d.TableExists("Data")) d.DeleteTable("Data");
    Create(d);
    Model model;
    std::mt19937 rng(exclusive ? 5 : 6);
    {
      TDataCursor c(d);
      c.Open("Data", exclusive);
      for (int i = 0; i < 300; ++i) {
        const std::string w = Word(rng);
        model[w] = std::string(50 + rng() % 400, static_cast<char>('A' + i % 26));
        Put(c, w, model[w]);
      }
      TDataTable& t = c.Table();
      t.Data().set_cache_capacity(8);
      t.Index().set_cache_capacity(2);
      t.Blob()->set_cache_capacity(4);
      t.StartTransaction();
      EXPECT_EQ(CodeOf([&] { t.StartTransaction(); }), kLockFailure);
      for (int i = 0; i < 400; ++i) {
        const std::string w = Word(rng);
        Put(c, w, std::string(300, 'x'));
        if (i % 3 == 0 && c.FindKey({w})) c.Delete();
      }
      // The caches grew instead of writing.
      EXPECT_GT(t.Data().cached_records(), 8u);
      EXPECT_GT(t.Index().cached_pages(), 2u);
      t.Rollback();
      EXPECT_FALSE(t.InTransaction());
      EXPECT_EQ(Read(c), model);
      EXPECT_EQ(c.RecordCount(), model.size());
      // The same changes committed are kept.
      t.StartTransaction();
      Put(c, "zzcommitted", "kept");
      model["zzcommitted"] = "kept";
      t.Commit();
    }
    s.CloseDirectory(d);
    EXPECT_EQ(CheckLines(), "");
    TDataSession s2;
    TDataDirectory& d2 = s2.OpenDirectory(Db());
    TDataCursor c2(d2);
    c2.Open("Data");
    EXPECT_EQ(Read(c2), model);
    c2.Close();
    s2.CloseDirectory(d2);
  }
}

// Another session sees a transaction's changes only after the commit; a
// table closed inside a transaction rolls it back.
TEST_F(TableSessionsTest, OtherSessionsSeeCommittedChangesOnly) {
  TDataSession s1, s2;
  TDataDirectory& d1 = s1.OpenDirectory(Db());
  TDataDirectory& d2 = s2.OpenDirectory(Db());
  Create(d1);
  {
    TDataCursor a(d1), b(d2);
    a.Open("Data");
    b.Open("Data");
    Put(a, "before", "1");
    a.Table().StartTransaction();
    Put(a, "during", "2");
    EXPECT_EQ(a.RecordCount(), 2u);
    EXPECT_EQ(b.RecordCount(), 1u);
    EXPECT_FALSE(b.FindKey({"during"}));
    a.Table().Commit();
    EXPECT_EQ(b.RecordCount(), 2u);
    ASSERT_TRUE(b.FindKey({"during"}));
    EXPECT_EQ(b.GetField(1), "2");
    a.Table().StartTransaction();
    Put(a, "lost", "3");
  }  // closes a inside its transaction
  s1.CloseDirectory(d1);
  s2.CloseDirectory(d2);
  EXPECT_EQ(CheckLines(), "");
  TDataSession s3;
  TDataDirectory& d3 = s3.OpenDirectory(Db());
  TDataCursor c(d3);
  c.Open("Data");
  EXPECT_EQ(Read(c), (Model{{"before", "1"}, {"during", "2"}}));
  c.Close();
  s3.CloseDirectory(d3);
}

// In-memory tables lock byte ranges shared by the sessions of the process:
// a conflict fails at once with the lock's code. Inside a container every
// lock succeeds.
TEST_F(TableSessionsTest, MemoryTablesLockAcrossSessionsContainersNever) {
  TDataSession s1, s2;
  TDataDirectory& m1 = s1.OpenDirectory("MEMORY");
  TDataDirectory& m2 = s2.OpenDirectory("memory");
  Create(m1);
  {
    TDataCursor a(m1), b(m2);
    a.Open("Data");
    b.Open("Data");
    Put(a, "one", "1");
    Put(b, "two", "2");
    EXPECT_EQ(a.RecordCount(), 2u);
    // The table lock keeps the other session's writes and table lock out.
    a.Table().LockTable();
    EXPECT_EQ(CodeOf([&] { Put(b, "three", "3"); }), kLockFailure);
    b.Cancel();
    // Edits are writes too.
    ASSERT_TRUE(b.FindKey({"two"}));
    EXPECT_EQ(CodeOf([&] {
                b.Edit();
                b.SetField(1, "zwei");
                b.Post();
              }),
              kLockFailure);
    b.Cancel();
    EXPECT_EQ(CodeOf([&] { b.Table().LockTable(); }), kTableLocked);
    EXPECT_EQ(CodeOf([&] { b.Table().StartTransaction(); }), kLockFailure);
    Put(a, "three", "3");  // the holder writes on
    a.Table().UnlockTable();
    EXPECT_EQ(CodeOf([&] { a.Table().UnlockTable(); }), kCannotUnlock);
    Put(b, "four", "4");
    // A record being edited is locked against the other session.
    ASSERT_TRUE(a.FindKey({"one"}));
    a.Edit();
    ASSERT_TRUE(b.FindKey({"one"}));
    EXPECT_EQ(CodeOf([&] { b.Edit(); }), kRecordInUse);
    EXPECT_EQ(CodeOf([&] { b.Delete(); }), kRecordInUse);
    a.SetField(1, "uno");
    a.Post();
    ASSERT_TRUE(b.FindKey({"one"}));
    b.Edit();
    b.Cancel();
    EXPECT_EQ(CodeOf([&] { b.Table().UnlockRecord(1); }), kCannotUnlock);
    // Record locks inside a table lock: locking again needs no new range.
    a.Table().LockTable();
    a.Table().LockRecord(2);
    a.Table().LockRecord(2);
    a.Table().UnlockRecord(2);
    EXPECT_EQ(CodeOf([&] { a.Table().UnlockRecord(2); }), kCannotUnlock);
    a.Table().UnlockTable();
    EXPECT_EQ(Read(b), (Model{{"four", "4"}, {"one", "uno"}, {"three", "3"}, {"two", "2"}}));
  }
  m1.DeleteTable("Data");
  s1.CloseDirectory(m1);
  s2.CloseDirectory(m2);

  TDataDirectory& c1 = s1.OpenDirectory(Db());
  TDataDirectory& c2 = s2.OpenDirectory(Db());
  Create(c1);
  {
    TDataCursor a(c1), b(c2);
    a.Open("Data");
    b.Open("Data");
    a.Table().LockTable();
    b.Table().LockTable();
    Put(b, "both", "hold the table lock");
    EXPECT_EQ(a.RecordCount(), 1u);
  }
  s1.CloseDirectory(c1);
  s2.CloseDirectory(c2);
}

// Ranges narrow walks, searches and counts to keys between two bounds
// over the key's first bytes; filters hide records; both together.
TEST_F(TableSessionsTest, RangesAndFiltersNarrowWhatTheCursorSees) {
  TDataSession s;
  TDataDirectory& d = s.OpenDirectory(Db());
  Create(d);
  Model model;
  {
    TDataCursor c(d);
    c.Open("Data");
    std::mt19937 rng(11);
    for (int i = 0; i < 500; ++i) {
      const std::string w = Word(rng);
      model[w] = std::to_string(w.size());
      Put(c, w, model[w]);
    }
    const auto expect_walk = [&](const Model& want) {
      Model fwd = Read(c), back;
      EXPECT_EQ(fwd, want);
      for (bool ok = c.Last(); ok; ok = c.Prior()) back[c.GetField(0)] = c.GetField(1);
      EXPECT_EQ(back, want);
      EXPECT_EQ(c.RecordCount(), want.size());
    };
    // Keys from "c" to "f" (whole field values: "fa" lies above "f").
    c.SetRange({"c"}, {"f"});
    Model in_range;
    for (const auto& [w, t] : model) {
      if (w >= "c" && w <= "f") in_range[w] = t;
    }
    expect_walk(in_range);
    const std::string inside = in_range.begin()->first;
    const std::string outside = model.begin()->first;  // below "c"
    EXPECT_TRUE(c.FindKey({inside}));
    EXPECT_FALSE(c.FindKey({outside}));
    EXPECT_EQ(c.GetField(0), inside);  // a failed search leaves the cursor
    ASSERT_TRUE(c.FindKey({std::next(in_range.begin(), 3)->first}));
    EXPECT_EQ(c.RecNo(), 4u);
    // An open end.
    c.SetRange({"x"}, {});
    Model tail;
    for (const auto& [w, t] : model) {
      if (w >= "x") tail[w] = t;
    }
    expect_walk(tail);
    c.CancelRange();
    expect_walk(model);

    // Filters: words of even length, then also without "a".
    const int even = c.AddFilter([](TDataCursor& k) { return k.GetField(0).size() % 2 == 0; });
    Model evens;
    for (const auto& [w, t] : model) {
      if (w.size() % 2 == 0) evens[w] = t;
    }
    expect_walk(evens);
    const int no_a =
        c.AddFilter([](TDataCursor& k) { return k.GetField(0).find('a') == std::string::npos; });
    c.SetRange({"c"}, {"f"});
    Model both;
    for (const auto& [w, t] : in_range) {
      if (w.size() % 2 == 0 && w.find('a') == std::string::npos) both[w] = t;
    }
    expect_walk(both);
    c.CancelRange();
    c.DropFilter(no_a);
    expect_walk(evens);
    EXPECT_EQ(CodeOf([&] { c.DropFilter(no_a); }), kInvalidFilterHandle);
    c.DropFilter(even);
    // A failing filter, then the limit of 32.
    const int bad = c.AddFilter([](TDataCursor&) -> bool { throw std::runtime_error("no"); });
    try {
      c.First();
      ADD_FAILURE() << "no filter error";
    } catch (const EEngineError& e) {
      EXPECT_EQ(e.Code(), kFilterError);
      EXPECT_NE(std::string(e.what()).find("no"), std::string::npos) << e.what();
    }
    c.DropFilter(bad);
    for (int i = 0; i < 32; ++i) c.AddFilter([](TDataCursor&) { return true; });
    EXPECT_EQ(CodeOf([&] { c.AddFilter([](TDataCursor&) { return true; }); }), kTooManyFilters);
  }
  s.CloseDirectory(d);
}

// A table emptied in one session is seen empty by another at its next
// refresh; a header changed by another writer drops the stale caches.
TEST_F(TableSessionsTest, EmptyAndHeaderChangesAcrossSessions) {
  TDataSession s1, s2;
  TDataDirectory& d1 = s1.OpenDirectory(Db());
  TDataDirectory& d2 = s2.OpenDirectory(Db());
  Create(d1);
  {
    TDataCursor b(d2);
    b.Open("Data");
    for (int i = 0; i < 50; ++i) Put(b, "w" + std::to_string(i), std::string(200, 'q'));
    b.Close();
    TDataCursor a(d1);
    a.Open("Data", true);
    EXPECT_EQ(a.RecordCount(), 50u);
    a.EmptyTable();
    EXPECT_EQ(a.RecordCount(), 0u);
    a.Close();
    b.Open("Data");
    EXPECT_EQ(b.RecordCount(), 0u);
    EXPECT_FALSE(b.First());
    TDataCursor a2(d1);
    a2.Open("Data");
    Put(a2, "again", "1");
    // b's caches are stale: the data, index and BLOB headers changed.
    EXPECT_TRUE(b.FindKey({"again"}));
    EXPECT_EQ(b.GetField(1), "1");
    Put(b, "again", "2");
    EXPECT_TRUE(a2.FindKey({"again"}));
    EXPECT_EQ(a2.GetField(1), "2");
  }
  s1.CloseDirectory(d1);
  s2.CloseDirectory(d2);
  EXPECT_EQ(CheckLines(), "");
}

// Renaming a table renames its three files, inside a container and in
// memory; open tables, taken and bad names are refused.
TEST_F(TableSessionsTest, RenameTableMovesItsFiles) {
  TDataSession s;
  for (const std::string& db : {Db(), std::string("MEMORY")}) {
    SCOPED_TRACE(db);
    TDataDirectory& d = s.OpenDirectory(db);
    Create(d);
    {
      TDataCursor c(d);
      c.Open("Data");
      Put(c, "word", std::string(300, 't'));
      EXPECT_EQ(CodeOf([&] { d.RenameTable("Data", "Words"); }), kAccessDenied);
    }
    d.RenameTable("Data", "Words");
    EXPECT_FALSE(d.TableExists("Data"));
    EXPECT_TRUE(d.TableExists("Words"));
    sql::ExecuteSql(d, kUpdateStatement);  // "Data" is free again
    EXPECT_EQ(CodeOf([&] { d.RenameTable("Data", "words"); }), kTableExists);
    EXPECT_EQ(CodeOf([&] { d.RenameTable("Data", "a/b"); }), kInvalidPath);
    EXPECT_EQ(CodeOf([&] { d.RenameTable("Gone", "Other"); }), kInvalidPath);
    {
      TDataCursor c(d);
      c.Open("Words");
      EXPECT_EQ(Read(c), (Model{{"word", std::string(300, 't')}}));
    }
    d.DeleteTable("Data");
    d.DeleteTable("Words");
    s.CloseDirectory(d);
  }
}

}  // namespace
}  // namespace vandrel::engine
