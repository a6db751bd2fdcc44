// Mutated real containers (random byte flips and truncations) opened
// through the file layer: every outcome is a working file or an engine
// error, never a crash or another exception, and whatever opens can be read
// whole, written and closed.
#include <random>

#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "tests/engine/container_fixture.h"

namespace vandrel::engine::test {
namespace {

using ContainerDamageTest = ContainerTest;

TEST_F(ContainerDamageTest, FlipsAndTruncationsOnlyEverGiveEngineErrors) {
  const std::string path = Path("real.vbas");
  const std::vector<std::string> names = {"Data.DAT", "Data.IDX", "Data.BLB", "Other.DAT"};
  {
    std::mt19937 rng(7);
    std::vector<std::unique_ptr<TFileHandler>> files;
    for (const auto& n : names) {
      files.push_back(std::make_unique<TFileHandler>());
      files.back()->Create(path + "\\" + n);
    }
    // Interleaved appends make interleaved chains; one file is cut back.
    for (int round = 0; round < 30; ++round) {
      for (auto& f : files) {
        std::vector<std::uint8_t> bytes(1 + rng() % 3000, static_cast<std::uint8_t>(round));
        f->WriteAt(f->Size(), bytes.data(), static_cast<std::int64_t>(bytes.size()));
      }
    }
    files[3]->Truncate(100);
  }
  TBaseList::Global().CloseAll();
  const std::vector<std::uint8_t> original = FileBytes(path);
  ASSERT_TRUE(CheckContainerBytes(original.data(), original.size()).Clean());

  std::mt19937 rng(12345);
  int opened = 0;
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<std::uint8_t> bytes = original;
    int kind = static_cast<int>(rng() % 4);
    if (kind == 0) {
      bytes.resize(rng() % bytes.size());
    } else {
      // Flips where they matter most: header, table and directory pages.
      int flips = 1 + static_cast<int>(rng() % 8);
      std::size_t span = kind == 1 ? 3 * 4096 : bytes.size();
      for (int i = 0; i < flips; ++i)
        bytes[rng() % span] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    }
    WriteBytes(path, bytes);
    for (const auto& n : names) {
      try {
        TFileHandler f;
        f.SetTableName("T");
        f.Open(path + "\\" + n);
        std::vector<std::uint8_t> all(static_cast<std::size_t>(f.Size()));
        f.ReadAt(0, all.data(), static_cast<std::int64_t>(all.size()));
        std::uint8_t b = 1;
        f.WriteAt(f.Size() + 4096, &b, 1);
        f.Truncate(f.Size() / 2);
        ++opened;
      } catch (const EEngineError& e) {
        EXPECT_TRUE(IsKnownEngineCode(e.Code())) << e.what();
        ++refused;
      }
    }
    TBaseList::Global().CloseAll();
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace vandrel::engine::test
