// `vandrel dic info|lookup|dump` read a dictionary file alone: they work
// with a runtime folder that cannot be created and leave nothing in one
// that can.
#include <filesystem>
#include <fstream>

#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

// A shell word: single quotes, with embedded ones closed and reopened.
std::string ShellWord(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class DicToolsE2eTest : public E2eTest {
 protected:
  // Runs `vandrel args...` with VANDREL_RUNTIME_DIR set to runtime.
  TRun RunWithRuntime(const std::string& runtime, const std::vector<std::string>& args) {
    const std::string out = state_.path() + "/tool-out.txt";
    const std::string err = state_.path() + "/tool-err.txt";
    // Appended piece by piece, as RunVandrel does (-Wrestrict at -O3).
    std::string command = "VANDREL_RUNTIME_DIR=";
    command += ShellWord(runtime);
    command += " ";
    command += ShellWord(BinDir() + "/vandrel");
    for (const std::string& a : args) {
      command += " ";
      command += ShellWord(a);
    }
    command += " >";
    command += ShellWord(out);
    command += " 2>";
    command += ShellWord(err);
    TRun run;
    const win::DWORD pid = StartChild({"/bin/sh", "-c", command});
    EXPECT_TRUE(WaitChild(pid, kBoundMs, &run.code)) << command;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }
};

TEST_F(DicToolsE2eTest, ReadingCommandsNeedNoRuntimeFolder) {
  Compile("EnRu.dic", Tagged(u"EnRu", {u"apple", u"house", u"tree"}), /*compressed=*/true);
  const std::string file = DicPath("EnRu.dic");
  // Under a regular file: no folder can ever be made there.
  const std::string blocker = state_.path() + "/not-a-folder";
  { std::ofstream(blocker) << "x"; }
  const std::string uncreatable = blocker + "/runtime";
  const std::string empty = state_.path() + "/empty-runtime";
  std::filesystem::create_directory(empty);
  std::filesystem::permissions(empty, std::filesystem::perms::owner_all);

  for (const std::string& runtime : {uncreatable, empty}) {
    SCOPED_TRACE(runtime);
    const TRun info = RunWithRuntime(runtime, {"dic", "info", file});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("words:           3"), std::string::npos) << info.out;
    const TRun lookup = RunWithRuntime(runtime, {"dic", "lookup", file, "house"});
    EXPECT_EQ(lookup.code, 0) << lookup.err;
    EXPECT_NE(lookup.out.find("house in EnRu"), std::string::npos) << lookup.out;
    const TRun dump = RunWithRuntime(runtime, {"dic", "dump", file});
    EXPECT_EQ(dump.code, 0) << dump.err;
    EXPECT_NE(dump.out.find("tree in EnRu"), std::string::npos) << dump.out;
  }
  EXPECT_FALSE(std::filesystem::exists(uncreatable));
  EXPECT_TRUE(std::filesystem::is_empty(empty)) << "the commands left files in the runtime folder";
}

// A file the system cannot open is named beside the system's own text; so
// is a runtime folder that cannot be used.
TEST_F(DicToolsE2eTest, PlatformErrorsNameTheirPath) {
  const std::string missing = state_.path() + "/no-such-folder/EnRu.dic";
  for (const char* command : {"info", "dump"}) {
    const TRun run = RunVandrel({"dic", command, missing});
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find(missing + ": Win32 Error.  Code: 3."), std::string::npos) << run.err;
  }
  const std::string source = state_.path() + "/a.tsv";
  { std::ofstream(source) << "apple\tan apple\n"; }
  const std::string output = state_.path() + "/no-such-folder/A.dic";
  const TRun compile =
      RunVandrel({"dic", "compile", source, output, "--lang", "en", "--trans-lang", "ru"});
  EXPECT_EQ(compile.code, 1) << compile.err;
  EXPECT_NE(compile.err.find(output), std::string::npos) << compile.err;
  EXPECT_NE(compile.err.find("The system cannot find the path specified."), std::string::npos)
      << compile.err;

  const std::string open = state_.path() + "/open-runtime";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms::owner_all |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec);
  const TRun list = RunWithRuntime(open, {"list"});
  EXPECT_NE(list.code, 0);
  EXPECT_NE(list.err.find("runtime directory " + open + " has mode 0750"), std::string::npos)
      << list.err;
}

}  // namespace
}  // namespace vandrel::test
