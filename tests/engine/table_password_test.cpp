// Passwords of encrypted tables: the create checks (10015), opening only in
// a session that knows the password or whose callback supplies it (10498
// otherwise, also for a table already open and shared), case-sensitive
// comparison, sessions apart, and `vandrel engine dump --password`.
#include <cstdio>

#include "tests/engine/repair_fixture.h"

namespace vandrel::engine::test {
namespace {

class TablePasswordTest : public WordTableTest {
 protected:
  void SetUp() override { Fill(30, true); }

  int OpenCode(TDataSession& s, bool exclusive = false) {
    TDataDirectory& d = s.OpenDirectory(Db());
    int code = 0;
    {
      TDataCursor c(d);
      code = CodeOf([&] { c.Open("Data", exclusive); });
      if (c.IsOpen()) c.Close();
    }
    EXPECT_EQ(d.OpenTableCount(), 0u) << "a refused open leaves nothing open";
    s.CloseDirectory(d);
    return code;
  }
};

TEST_F(TablePasswordTest, CreateRefusesBadPasswords) {
  TDataDirectory& d = session_.OpenDirectory(Db());
  for (const std::string pw : {"", "   ", "0123456789abcdef"}) {
    TableDef def = Definition(true);
    def.name = "P";
    def.password = pw;
    EXPECT_EQ(CodeOf([&] { d.CreateTable(def); }), kInvalidPassword) << "'" << pw << "'";
    EXPECT_FALSE(d.TableExists("P"));
  }
  TableDef def = Definition(true);
  def.name = "P";
  def.password = "0123456789abcde";  // 15 characters
  EXPECT_EQ(CodeOf([&] { d.CreateTable(def); }), 0);
  session_.CloseDirectory(d);
}

TEST_F(TablePasswordTest, OpenNeedsTheExactPassword) {
  TDataSession other;
  EXPECT_EQ(OpenCode(other), kPasswordRequired);
  EXPECT_EQ(OpenCode(other, true), kPasswordRequired);
  other.AddPassword("Secret");
  EXPECT_EQ(OpenCode(other), kPasswordRequired) << "compared case-sensitively";
  other.AddPassword("secret");
  EXPECT_EQ(OpenCode(other), 0);
  other.RemovePassword("secret");
  EXPECT_EQ(OpenCode(other), kPasswordRequired);
  other.AddPassword("secret");
  other.RemoveAllPasswords();
  EXPECT_EQ(OpenCode(other), kPasswordRequired);
  // The password of one session does not open the table in another.
  EXPECT_EQ(OpenCode(session_), 0);
}

TEST_F(TablePasswordTest, CallbackIsAskedUntilItGivesUp) {
  TDataSession s;
  int asked = 0;
  s.SetPasswordCallback([&](const std::string& table) {
    EXPECT_EQ(table, "Data");
    ++asked;
    return false;
  });
  EXPECT_EQ(OpenCode(s), kPasswordRequired);
  EXPECT_EQ(asked, 1);

  asked = 0;
  s.SetPasswordCallback([&](const std::string&) {
    s.AddPassword(++asked == 1 ? "wrong" : "secret");
    return true;
  });
  EXPECT_EQ(OpenCode(s), 0);
  EXPECT_EQ(asked, 2);
  // Known now: not asked again.
  EXPECT_EQ(OpenCode(s), 0);
  EXPECT_EQ(asked, 2);

  // A callback that never gives up nor helps is not asked forever.
  TDataSession stubborn;
  asked = 0;
  stubborn.SetPasswordCallback([&](const std::string&) { return ++asked > 0; });
  EXPECT_EQ(OpenCode(stubborn), kPasswordRequired);
  EXPECT_EQ(asked, TDataSession::kMaxPasswordAsks);
}

TEST_F(TablePasswordTest, SharedOpenChecksThePasswordAgain) {
  TDataDirectory& d = session_.OpenDirectory(Db());
  TDataCursor a(d);
  a.Open("Data");
  session_.RemoveAllPasswords();
  TDataCursor b(d);
  EXPECT_EQ(CodeOf([&] { b.Open("Data"); }), kPasswordRequired);
  EXPECT_EQ(d.OpenTableCount(), 1u);
  // The cursor already open keeps working.
  EXPECT_TRUE(a.FindKey({WordOf(1)}));
  EXPECT_EQ(a.GetField(1), Trans(1));
  session_.AddPassword("secret");
  b.Open("Data");
  EXPECT_TRUE(b.FindKey({WordOf(2)}));
  b.Close();
  a.Close();
  session_.CloseDirectory(d);
}

TEST_F(TablePasswordTest, StoredBytesHideThePasswordAndValues) {
  const Bytes dat = ReadFile(".DAT");
  const Bytes blb = ReadFile(".BLB");
  const auto holds = [](const Bytes& b, const std::string& s) {
    return std::search(b.begin(), b.end(), s.begin(), s.end()) != b.end();
  };
  EXPECT_FALSE(holds(dat, "secret"));
  EXPECT_FALSE(holds(dat, WordOf(3)));
  EXPECT_FALSE(holds(blb, Trans(3).substr(0, 20)));
  EXPECT_EQ(Read(), model_);
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::pair<int, std::string> RunVandrel(const std::string& args) {
  const std::string cmd = vandrel::test::BinDir() + "/vandrel engine " + args + " 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {-1, out};
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(TablePasswordTest, DumpCommandTakesPasswords) {
  auto r = RunVandrel("dump " + Quote(Container()) + " Data");
  EXPECT_EQ(r.first, 1);
  EXPECT_NE(r.second.find("Engine Error # 10498 Insufficient rights to table 'Data', a password "
                          "is required"),
            std::string::npos)
      << r.second;
  r = RunVandrel("dump --password nope --password secret " + Quote(Container()) + " Data");
  EXPECT_EQ(r.first, 0) << r.second;
  EXPECT_NE(r.second.find(WordOf(1) + "\t" + Trans(1) + "\n"), std::string::npos) << r.second;
  EXPECT_EQ(r.second.find(WordOf(0) + "\t"), std::string::npos) << "deleted";
}

}  // namespace
}  // namespace vandrel::engine::test
