// `vandrel engine check --repair` as a real process on a damaged table.
#include <cstdio>

#include "tests/engine/repair_fixture.h"

namespace vandrel::engine::test {
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

Result RunVandrel(const std::string& args, const std::string& env = "") {
  Result r;
  const std::string cmd = env + vandrel::test::BinDir() + "/vandrel engine " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class RepairCommandTest : public WordTableTest {};

TEST_F(RepairCommandTest, LostIndexAndCutChainRepairedByTheCommand) {
  Fill(80);
  const Bytes dat = ReadFile(".DAT");
  Bytes blb = ReadFile(".BLB");
  const std::uint32_t n = RecordWithBlocks(dat, blb, 3);
  ASSERT_NE(n, 0u);
  const std::uint32_t second = LoadU32(blb.data() + FirstBlock(dat, n) + 4);
  StoreU32(blb.data() + second + 4, 0x7FFFFFF0);
  WriteFile(".BLB", blb);
  TFileHandler::DeleteFile(Base() + ".IDX", false, "Data");
  TBaseList::Global().CloseAll();
  const std::string word = WordOfRecord(dat, n);
  model_[word] = model_[word].substr(0, 220);

  Result r = RunVandrel("check " + Quote(Container()));
  EXPECT_EQ(r.status, 1) << r.out;
  r = RunVandrel("check --repair --key Nope " + Quote(Container()) + " Data");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no field \"Nope\""), std::string::npos) << r.out;
  r = RunVandrel("check --repair --key word " + Quote(Container()) + " Data");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Data: Missing index file, error fixed\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Data: Invalid intra-block pointer in BLOB file for physical record # " +
                       std::to_string(n) + ", error fixed\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("active, repaired\n"), std::string::npos) << r.out;

  r = RunVandrel("check " + Quote(Container()));
  EXPECT_EQ(r.status, 0) << r.out;
  r = RunVandrel("check --repair " + Quote(Container()));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("active, clean\n"), std::string::npos) << r.out;
  EXPECT_EQ(Read(), model_);
  TDataDirectory& d = session_.OpenDirectory(Db());
  TDataCursor c(d);
  c.Open("Data");
  EXPECT_TRUE(c.FindKey({WordOf(9)}));
  c.Close();
  session_.CloseDirectory(d);
}

TEST_F(RepairCommandTest, FailedRepairWriteIsReportedAndRunAgain) {
  Fill(60);
  Bytes dat = ReadFile(".DAT");
  StoreU32(dat.data() + 9, 12345);  // a bad free-chain head
  WriteFile(".DAT", dat);
  Bytes idx = ReadFile(".IDX");
  std::memset(idx.data() + 4096, 0x33, 4096);
  WriteFile(".IDX", idx);
  for (const char* fault : {"1,w", "2,wg,torn", "3,wg,torn"}) {
    const Result r = RunVandrel("check --repair " + Quote(Container()) + " Data",
                                std::string("VANDREL_IO_FAULT=") + fault + " ");
    EXPECT_EQ(r.status, 1) << fault << "\n" << r.out;
    EXPECT_NE(r.out.find("Engine Error # 9218 Error writing to table 'Data'"), std::string::npos)
        << fault << "\n"
        << r.out;
  }
  const Result r = RunVandrel("check --repair " + Quote(Container()) + " Data");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(CheckLines(), "");
  EXPECT_EQ(Read(), model_);
}

TEST_F(RepairCommandTest, EncryptedTableNeedsItsPassword) {
  Fill(20, true);
  Result r = RunVandrel("check --repair " + Quote(Container()) + " Data");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("10498"), std::string::npos) << r.out;
  r = RunVandrel("check --repair --password secret " + Quote(Container()) + " Data");
  EXPECT_EQ(r.status, 0) << r.out;
  r = RunVandrel("check --repair --bogus " + Quote(Container()));
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace vandrel::engine::test
