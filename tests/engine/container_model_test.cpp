// Random create / write / seek / read / truncate / delete / reopen sequences
// over several inner files, through the file handler, against an in-memory
// model; the container grows past 1,024 and 2,048 pages (table moves) and
// passes its structural check after every batch.
#include <map>
#include <memory>
#include <random>

#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "tests/engine/container_fixture.h"

namespace vandrel::engine::test {
namespace {

class ContainerModelTest : public ContainerTest {
 protected:
  using Model = std::map<std::string, std::vector<std::uint8_t>>;

  TEntireDataBase& Db() {
    TEntireDataBase* db = TBaseList::Global().Find(CanonicalContainerPath(Path("model.vbas")));
    EXPECT_NE(db, nullptr);
    return *db;
  }

  void CheckAgainstModel(const Model& model) {
    TEntireDataBase& db = Db();
    ExpectClean(db);
    auto files = db.List();
    ASSERT_EQ(files.size(), model.size());
    for (const auto& f : files) {
      auto it = model.find(f.name);
      ASSERT_NE(it, model.end()) << f.name;
      EXPECT_EQ(f.size, static_cast<std::int64_t>(it->second.size())) << f.name;
    }
  }

  void CheckContents(const Model& model,
                     std::map<std::string, std::unique_ptr<TFileHandler>>& open) {
    for (const auto& [name, bytes] : model) {
      TFileHandler& h = *open.at(name);
      std::vector<std::uint8_t> back(bytes.size());
      EXPECT_EQ(h.ReadAt(0, back.data(), static_cast<std::int64_t>(back.size())),
                static_cast<std::int64_t>(back.size()));
      EXPECT_TRUE(back == bytes) << name;
    }
  }
};

TEST_F(ContainerModelTest, RandomOperationsMatchTheModelPastTwoTableGrowths) {
  std::mt19937 rng(20261208);
  const std::vector<std::string> names = {"A.DAT",    "A.IDX",    "A.BLB", "Data.DAT",
                                          "Data.IDX", "Data.BLB", "x"};
  Model model;
  std::map<std::string, std::unique_ptr<TFileHandler>> open;
  auto name_of = [&](const std::string& n) { return Name("model.vbas", n); };
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto random_bytes = [&](std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::uint64_t x = rng();
    for (std::size_t i = 0; i < n; ++i) {
      if (i % 8 == 0) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
      v[i] = static_cast<std::uint8_t>(x >> (8 * (i % 8)));
    }
    return v;
  };
  auto reopen_all = [&] {
    open.clear();
    EXPECT_EQ(TBaseList::Global().CloseIdle(), 1);
    for (const auto& [name, bytes] : model) {
      auto h = std::make_unique<TFileHandler>();
      h->Open(name_of(name));
      open[name] = std::move(h);
    }
    CheckContents(model, open);
  };

  int batches = 0;
  std::int32_t max_pages = 0;
  bool saw_table_move = false;
  while (batches < 400 && (max_pages < 2300 || batches < 60)) {
    for (int step = 0; step < 12; ++step) {
      const std::string& name = names[pick(names.size())];
      bool exists = model.count(name) != 0;
      int op = static_cast<int>(pick(100));
      if (!exists || op < 2) {  // create (over an existing file too)
        open.erase(name);
        auto h = std::make_unique<TFileHandler>();
        h->Create(name_of(name));
        open[name] = std::move(h);
        model[name].clear();
        continue;
      }
      TFileHandler& h = *open.at(name);
      std::vector<std::uint8_t>& m = model[name];
      if (op < 60) {  // write: mostly appends, some overwrites, some past the end
        std::size_t n = 1 + pick(pick(3) == 0 ? 600000 : 3000);
        std::size_t at = m.size();
        int where = static_cast<int>(pick(10));
        if (where < 3 && !m.empty()) at = pick(m.size());
        if (where == 9) at = m.size() + pick(10000);
        auto bytes = random_bytes(n);
        h.Seek(static_cast<std::int64_t>(at), 0);
        h.Write(bytes.data(), static_cast<std::int64_t>(n));
        if (m.size() < at + n) m.resize(at + n, 0);
        std::copy(bytes.begin(), bytes.end(), m.begin() + static_cast<std::ptrdiff_t>(at));
        EXPECT_EQ(h.Seek(0, 1), static_cast<std::int64_t>(at + n));
      } else if (op < 80) {  // seek and read, past the end too
        std::size_t at = pick(m.size() + 100);
        std::size_t n = 1 + pick(10000);
        std::vector<std::uint8_t> back(n);
        std::int64_t got = h.ReadAt(static_cast<std::int64_t>(at), back.data(),
                                    static_cast<std::int64_t>(n), true);
        std::size_t want = at >= m.size() ? 0 : std::min(n, m.size() - at);
        ASSERT_EQ(got, static_cast<std::int64_t>(want));
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(want),
                               m.begin() + static_cast<std::ptrdiff_t>(at)));
        EXPECT_EQ(h.Seek(0, 2), static_cast<std::int64_t>(m.size()));  // end + 0
      } else if (op < 92) {  // truncate, or extend with zeros
        std::size_t size = pick(4) == 0 ? m.size() + pick(9000)
                           : pick(8) == 0
                               ? pick(m.size() + 1)
                               : m.size() - pick(std::min<std::size_t>(m.size(), 9000) + 1);
        h.Truncate(static_cast<std::int64_t>(size));
        m.resize(size, 0);
      } else if (op < 97) {  // delete: refused while open, done after close
        EXPECT_THROW(TFileHandler::DeleteFile(name_of(name), false, "T"), EEngineError);
        open.erase(name);
        TFileHandler::DeleteFile(name_of(name), false, "T");
        model.erase(name);
        EXPECT_FALSE(TFileHandler::Exists(name_of(name)));
      } else {
        reopen_all();
      }
      ASSERT_FALSE(HasFatalFailure());
    }
    ++batches;
    if (open.empty()) {  // keep the container open for the check
      auto h = std::make_unique<TFileHandler>();
      h->Create(name_of("x"));
      open["x"] = std::move(h);
      model["x"].clear();
    }
    TEntireDataBase& db = Db();
    if (db.TableEnd() > 2) saw_table_move = true;
    max_pages = std::max(max_pages, db.PageCount());
    CheckAgainstModel(model);
    ASSERT_FALSE(HasFatalFailure()) << "batch " << batches;
  }
  EXPECT_TRUE(saw_table_move);
  EXPECT_GT(max_pages, 2048);
  reopen_all();
  CheckAgainstModel(model);
}

}  // namespace
}  // namespace vandrel::engine::test
