// Write failures injected into each write, growth, truncation and flush of
// an insert, an edit, a delete and a transaction's commit, in turn: the
// operation reports 9218, nothing reported done is lost, and both the files
// as the failure left them (a crash at that moment) and the files after a
// clean close pass their check, at once or after the repair run. No key of
// the crash image leads to a record or BLOB value that was not stored.
#include <filesystem>

#include "tests/engine/repair_fixture.h"

namespace vandrel::engine::test {
namespace {

struct Op {
  const char* name;
  std::string key;        // the word the operation changes
  std::string new_value;  // its value when the operation is done ("" deleted)
  bool deletes = false;
  std::function<void(WordTableTest&, TDataCursor&)> setup;  // before the fault is armed
  std::function<void(WordTableTest&, TDataCursor&)> run;    // under the fault
};

class TableFaultTest : public WordTableTest {
 public:
  using WordTableTest::Put;

 protected:
  // The walk of every record with its value: 0, or the engine code that
  // stopped it.
  int WalkCode() {
    try {
      Read();
    } catch (const EEngineError& e) {
      return e.Code();
    }
    return 0;
  }

  // Damage left in the files is repaired; afterwards the files are clean.
  void CheckOrRepair(const std::string& what) {
    if (CheckLines().empty()) return;
    const TRepairReport r = Repair();
    EXPECT_FALSE(r.unrepairable) << what << "\n" << Joined(r.messages);
    EXPECT_EQ(CheckLines(), "") << what << "\n" << Joined(r.messages);
  }

  // The records reported done are there; the changed one is in its old or
  // new state (the new one when the operation reported success).
  void ExpectModel(const Model& before, const Op& op, bool succeeded, const std::string& what) {
    Model got = Read();
    const auto it = got.find(op.key);
    const bool is_new =
        op.deletes ? it == got.end() : it != got.end() && it->second == op.new_value;
    if (succeeded) {
      EXPECT_TRUE(is_new) << what;
    }
    if (!is_new) {
      // Not done: the old state, or the new record whose value a crash
      // cut (repair keeps the bytes stored). Values rewritten in place may
      // mix old and new blocks: no more is said of an edited value.
      const auto old = before.find(op.key);
      if (old == before.end()) {
        EXPECT_TRUE(it == got.end() || op.new_value.rfind(it->second, 0) == 0) << what;
      } else if (!op.deletes || it == got.end()) {
        EXPECT_TRUE(it != got.end() || op.deletes) << what;
      } else {
        EXPECT_EQ(it->second, old->second) << what;
      }
    }
    got.erase(op.key);
    Model rest = before;
    rest.erase(op.key);
    EXPECT_EQ(got, rest) << what;
  }

  // Every write of op fails once in turn (torn on odd runs).
  void FailEachWrite(const Op& op, bool transaction = false) {
    int failures = 0;
    for (std::uint64_t nth = 1; nth < 400; ++nth) {
      const std::string what = std::string(op.name) + ": fault " + std::to_string(nth);
      container_ = "db" + std::to_string(nth) + ".vbas";
      model_.clear();
      Fill(40);
      const Model before = model_;
      bool succeeded = false, fired = false;
      std::filesystem::path image = dir_.path() + "/crash.vbas";
      {
        TDataDirectory& d = session_.OpenDirectory(Db());
        TDataCursor c(d);
        c.Open("Data");
        if (transaction) c.Table().StartTransaction();
        if (op.setup) op.setup(*this, c);
        TIoFaults::Arm(nth, kIoAll, nth % 2 == 1);
        const int code = CodeOf([&] {
          op.run(*this, c);
          if (transaction) c.Table().Commit();
        });
        fired = TIoFaults::Fired();
        TIoFaults::Disarm();
        succeeded = code == 0;
        if (fired) {
          EXPECT_EQ(code, kWriteError) << what;
          std::filesystem::copy_file(Container(), image,
                                     std::filesystem::copy_options::overwrite_existing);
        } else {
          EXPECT_EQ(code, 0) << what;
        }
        if (c.state() != TDataCursor::kBrowse) c.Cancel();
        try {
          if (c.Table().InTransaction()) c.Table().Rollback();
          c.Close();
        } catch (const EEngineError&) {
        }
        session_.CloseDirectory(d);
        TBaseList::Global().CloseAll();
      }
      if (!fired) {
        ExpectModel(before, op, true, what);
        EXPECT_EQ(CheckLines(), "") << what;
        break;
      }
      ++failures;
      // The files after a clean close.
      CheckOrRepair(what + " (closed)");
      ExpectModel(before, op, succeeded, what + " (closed)");
      // The files as the failure left them.
      const std::string closed = container_;
      container_ = "crash.vbas";
      const int walk = WalkCode();
      EXPECT_TRUE(walk == 0 || walk == kHeaderCorrupt || walk == kIndexBuffersCorrupt ||
                  walk == kRecordBuffersCorrupt)
          << what << ": a key of the crash image leads to data never stored (" << walk << ")";
      CheckOrRepair(what + " (crash)");
      ExpectModel(before, op, false, what + " (crash)");
      std::filesystem::remove(image);
      std::filesystem::remove(dir_.path() + "/" + closed);
    }
    EXPECT_GT(failures, 3) << op.name;
  }
};

TEST_F(TableFaultTest, InsertFailsCleanlyAtEveryWrite) {
  Op op{"insert", "new", std::string(300, 'n'), false, nullptr, [](WordTableTest&, TDataCursor& c) {
          c.Insert();
          c.SetField(0, "new");
          c.SetField(1, std::string(300, 'n'));
          c.Post();
        }};
  FailEachWrite(op);
}

TEST_F(TableFaultTest, EditFailsCleanlyAtEveryWrite) {
  Op op{"edit",
        WordOf(10),
        std::string(350, 'e'),
        false,
        [](WordTableTest&, TDataCursor& c) { ASSERT_TRUE(c.FindKey({WordOf(10)})); },
        [](WordTableTest&, TDataCursor& c) {
          c.Edit();
          c.SetField(1, std::string(350, 'e'));
          c.Post();
        }};
  FailEachWrite(op);
}

TEST_F(TableFaultTest, DeleteFailsCleanlyAtEveryWrite) {
  Op op{"delete",
        WordOf(11),
        "",
        true,
        [](WordTableTest&, TDataCursor& c) { ASSERT_TRUE(c.FindKey({WordOf(11)})); },
        [](WordTableTest&, TDataCursor& c) { c.Delete(); }};
  FailEachWrite(op);
}

TEST_F(TableFaultTest, CommitFailsCleanlyAtEveryWrite) {
  // The transaction inserts one word; the commit writes it (and flushes).
  Op op{"commit",
        "tx",
        std::string(250, 't'),
        false,
        [](WordTableTest&, TDataCursor& c) {
          c.Insert();
          c.SetField(0, "tx");
          c.SetField(1, std::string(250, 't'));
          c.Post();
        },
        [](WordTableTest&, TDataCursor&) {}};
  FailEachWrite(op, true);
}

TEST(IoFaults, ArmCountsMatchingCallsOnly) {
  TIoFaults::Count(kIoWrite);
  EXPECT_FALSE(TIoFaults::Hit(kIoFlush));
  EXPECT_FALSE(TIoFaults::Hit(kIoWrite));
  EXPECT_EQ(TIoFaults::Seen(), 1u);
  TIoFaults::Arm(2, kIoWrite | kIoGrow, true);
  bool torn = false;
  EXPECT_FALSE(TIoFaults::Hit(kIoGrow, &torn));
  EXPECT_TRUE(TIoFaults::Hit(kIoWrite, &torn));
  EXPECT_TRUE(torn);
  EXPECT_FALSE(TIoFaults::Hit(kIoWrite)) << "once unless sticky";
  TIoFaults::Arm(1, kIoFlush, false, true);
  EXPECT_TRUE(TIoFaults::Hit(kIoFlush));
  EXPECT_TRUE(TIoFaults::Hit(kIoFlush));
  TIoFaults::Disarm();
  EXPECT_FALSE(TIoFaults::Hit(kIoFlush));
  {
    vandrel::test::ScopedEnv env("VANDREL_IO_FAULT", "3,wf,torn");
    EXPECT_TRUE(TIoFaults::ArmFromEnvironment());
    EXPECT_FALSE(TIoFaults::Hit(kIoGrow));
    EXPECT_FALSE(TIoFaults::Hit(kIoWrite));
    EXPECT_FALSE(TIoFaults::Hit(kIoFlush));
    EXPECT_TRUE(TIoFaults::Hit(kIoWrite, &torn));
  }
  {
    vandrel::test::ScopedEnv env("VANDREL_IO_FAULT", "x,q");
    EXPECT_FALSE(TIoFaults::ArmFromEnvironment());
  }
  TIoFaults::Disarm();
}

}  // namespace
}  // namespace vandrel::engine::test
