// Containers between real processes: the second open is refused, kill -9
// of the holder releases the container, a temporary container goes with
// its last close and a leftover of a killed process is removed by its next
// user; a full disk (the file size limit) is a clean engine error; and the
// `vandrel engine` commands.
#include <sstream>

#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/engine/container_fixture.h"

namespace vandrel::engine::test {
namespace {

class ContainerProcessTest : public ContainerTest {
 protected:
  void TearDown() override {
    for (win::DWORD pid : children_) {
      win::KillProcess(pid, true);
      int code = 0;
      win::WaitChildProcess(pid, 5000, &code);
    }
    ContainerTest::TearDown();
  }

  struct Run {
    int code = -1;
    std::string out;
    std::string err;
  };
  Run RunProgram(const std::string& program, const std::vector<std::string>& args) {
    auto quote = [](const std::string& s) {
      std::string q = "'";
      for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
      return q + "'";
    };
    std::string out = dir_.path() + "/out.txt";
    std::string err = dir_.path() + "/err.txt";
    std::string command = quote(vandrel::test::BinDir() + "/" + program);
    for (const auto& a : args) command += " " + quote(a);
    command += " >" + quote(out) + " 2>" + quote(err);
    Run run;
    win::DWORD pid = win::StartChildProcess({"/bin/sh", "-c", command}, "");
    EXPECT_NE(pid, 0u);
    EXPECT_TRUE(win::WaitChildProcess(pid, 60000, &run.code)) << command;
    std::vector<std::uint8_t> o = FileBytes(out);
    std::vector<std::uint8_t> e = FileBytes(err);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    return run;
  }

  // Starts a holder of `name` and waits until it holds it.
  win::DWORD StartHolder(const std::string& name, const std::string& tag) {
    std::string ready = dir_.path() + "/" + tag + ".ready";
    win::DWORD pid = win::StartChildProcess(
        {vandrel::test::BinDir() + "/container_holder", "hold", name, ready, Release(tag)}, "");
    EXPECT_NE(pid, 0u);
    children_.push_back(pid);
    for (int i = 0; i < 1000 && !FileExists(ready); ++i) win::Sleep(10);
    EXPECT_TRUE(FileExists(ready)) << "holder did not come up";
    return pid;
  }
  std::string Release(const std::string& tag) const { return dir_.path() + "/" + tag + ".release"; }
  int Wait(win::DWORD pid) {
    int code = -1;
    EXPECT_TRUE(win::WaitChildProcess(pid, 30000, &code));
    std::erase(children_, pid);
    return code;
  }

  static int CodeOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EEngineError& e) {
      return e.Code();
    }
    return 0;
  }

  std::vector<win::DWORD> children_;
};

TEST_F(ContainerProcessTest, SecondOpenIsRefusedUntilTheHolderIsKilled) {
  std::string name = Name("shared.vbas", "T.DAT");
  win::DWORD holder = StartHolder(name, "h");
  TFileHandler f;
  f.SetTableName("T");
  EXPECT_EQ(CodeOf([&] { f.Open(name); }), kAccessDenied);
  EXPECT_EQ(CodeOf([&] { f.Create(Name("shared.vbas", "U.DAT")); }), kAccessDenied);
  // The peer sees the same from its side.
  Run other = RunProgram("container_holder", {"open", name});
  EXPECT_EQ(other.out, "11013\n");
  ASSERT_TRUE(win::KillProcess(holder, true));
  EXPECT_EQ(Wait(holder), 128 + 9);
  // kill -9 released the lock; what the holder wrote is there.
  f.Open(name);
  EXPECT_EQ(f.Size(), 10000);
  std::uint8_t b = 0;
  f.ReadAt(9999, &b, 1);
  EXPECT_EQ(b, 0x5A);
  TEntireDataBase* db = TBaseList::Global().Find(CanonicalContainerPath(Path("shared.vbas")));
  ASSERT_NE(db, nullptr);
  ExpectClean(*db);
}

TEST_F(ContainerProcessTest, TemporaryContainerGoesWithItsLastCloseAndALeftoverWithItsNextUser) {
  std::string name = Name("Updates.tmp", "T.DAT");
  std::string path = Path("Updates.tmp");
  // A clean close removes it.
  win::DWORD holder = StartHolder(name, "a");
  EXPECT_TRUE(FileExists(path));
  std::ofstream(Release("a")) << "go\n";
  EXPECT_EQ(Wait(holder), 0);
  EXPECT_FALSE(FileExists(path));
  // While a live process holds one, nobody removes it.
  holder = StartHolder(name, "b");
  TFileHandler f;
  EXPECT_EQ(CodeOf([&] { f.Create(name); }), kAccessDenied);
  EXPECT_TRUE(FileExists(path));
  // After kill -9 the file stays; the next user removes the leftover and
  // starts a fresh container.
  win::KillProcess(holder, true);
  Wait(holder);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(CodeOf([&] { f.Open(name); }), kInvalidPath);
  f.Create(name);
  EXPECT_EQ(f.Size(), 0);
  TEntireDataBase* db = TBaseList::Global().Find(CanonicalContainerPath(path));
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->List().size(), 1u);
  ExpectClean(*db);
  f.Close();
  TBaseList::Global().CloseIdle();
  EXPECT_FALSE(FileExists(path));
}

TEST_F(ContainerProcessTest, FullDiskIsACleanEngineErrorAndTheContainerStillChecksClean) {
  std::string name = Name("full.vbas", "BIG.DAT");
  Run run = RunProgram("container_holder", {"fill", name, std::to_string(3 << 20)});
  ASSERT_EQ(run.code, 0) << run.out << run.err;  // no signal, an engine error
  std::istringstream in(run.out);
  int code = 0;
  unsigned os_error = 0;
  long long written = 0;
  in >> code >> os_error >> written;
  EXPECT_EQ(code, kWriteError);
  EXPECT_EQ(os_error, 112u);  // ERROR_DISK_FULL
  EXPECT_GT(written, 1 << 20);
  TFileHandler f;
  f.Open(name);
  EXPECT_EQ(f.Size(), written);
  TEntireDataBase* db = TBaseList::Global().Find(CanonicalContainerPath(Path("full.vbas")));
  ASSERT_NE(db, nullptr);
  ExpectClean(*db);
  TContainerReport report = CheckContainerFile(Path("full.vbas"));
  EXPECT_TRUE(report.Clean()) << Joined(report.Lines());
}

TEST_F(ContainerProcessTest, EngineCommandsListCatAndCheck) {
  std::string path = Path("cli.vbas");
  {
    TFileHandler f;
    f.Create(path + "\\notes.txt");
    f.WriteAt(0, "hello, container", 16);
    TFileHandler g;
    g.Create(path + "\\pages.bin");
    std::vector<std::uint8_t> big(9000, 'i');
    g.WriteAt(0, big.data(), 9000);
  }
  TBaseList::Global().CloseAll();
  Run ls = RunProgram("vandrel", {"engine", "ls", path});
  EXPECT_EQ(ls.code, 0) << ls.err;
  EXPECT_NE(ls.out.find("notes.txt"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("9000        3"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("2 files, 7 pages"), std::string::npos) << ls.out;
  Run cat = RunProgram("vandrel", {"engine", "cat", path, "NOTES.TXT"});
  EXPECT_EQ(cat.code, 0);  // inner names compare case-insensitively
  EXPECT_EQ(cat.out, "hello, container");
  Run missing = RunProgram("vandrel", {"engine", "cat", path, "none"});
  EXPECT_EQ(missing.code, 1);
  Run check = RunProgram("vandrel", {"engine", "check", path});
  EXPECT_EQ(check.code, 0) << check.out;
  EXPECT_NE(check.out.find("clean"), std::string::npos);
  // One damaged byte: a table entry of a free page beyond the page count.
  auto bytes = FileBytes(path);
  bytes[4096 + 4 * 100] = 7;
  WriteBytes(path, bytes);
  check = RunProgram("vandrel", {"engine", "check", path});
  EXPECT_EQ(check.code, 1);
  EXPECT_NE(check.out.find("[table] entry of page 100 beyond the page count is not 0"),
            std::string::npos)
      << check.out;
  ls = RunProgram("vandrel", {"engine", "ls", path});
  EXPECT_EQ(ls.code, 1);
}

}  // namespace
}  // namespace vandrel::engine::test
