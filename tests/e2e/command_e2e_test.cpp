// The `vandrel` dictionary commands as a user runs them: against the
// sample dictionaries with a service they start themselves, and against a
// service that runs already, whose other client sees what they change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/service_launcher.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

// The marked-up translation of word in a tab-separated sample source, as
// written there.
std::string SourceTranslation(const std::string& source, const std::string& word) {
  std::ifstream in(source);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(word + "\t", 0) == 0) return line.substr(word.size() + 1);
  }
  return "(not in " + source + ")";
}

bool HasControl(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n') return true;
  }
  return false;
}

using CommandE2eTest = E2eTest;

TEST_F(CommandE2eTest, LookupStartsTheServiceAndPrintsEachDictionarysTranslation) {
  ASSERT_EQ(client::FindManagerWindow(), 0u);
  const std::string ru = SourceTranslation(SourceDir() + "/samples/en-ru.tsv", "house");
  const std::string de = SourceTranslation(SourceDir() + "/samples/en-de.tsv", "house");

  // --raw: the marked-up text exactly as the source wrote it.
  TRun run = RunVandrel({"lookup", "house", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "house\n  EnDe  " + de + "\n  EnRu  " + ru + "\n");
  EXPECT_EQ(run.err, "");

  run = RunVandrel({"lookup", "house", "-d", "enru", "--color=never"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("house\n  EnRu  ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("дом"), std::string::npos) << run.out;
  EXPECT_FALSE(HasControl(run.out)) << run.out;
  EXPECT_EQ(run.out.find("EnDe"), std::string::npos);
  run = RunVandrel({"lookup", "house", "-d", "EnRu.dic", "--color=always"});
  EXPECT_NE(run.out.find("\x1b["), std::string::npos);

  // A beginning finds the nearest word, and says so.
  run = RunVandrel({"lookup", "hous", "-d", "EnRu", "--raw"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "hous: not found; nearest:\nhouse\n  EnRu  " + ru + "\n");

  // The services these commands started ended with their last client.
  EXPECT_TRUE(client::PumpMessagesUntil([] { return client::FindManagerWindow() == 0; }, kBoundMs));
}

TEST_F(CommandE2eTest, CommandsWorkThroughTheRunningServiceAndReportItsErrors) {
  Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
  Compile("B.dic", Tagged(u"B", {u"banana", u"cherry"}));
  Compile("C.dic", Tagged(u"C", {u"cherry", u"date"}));
  auto set = NewSet();  // starts the service on the scratch folder
  client::TBaseClient& a = set->OpenBase(u"A.dic");

  TRun run = RunVandrel({"list"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "A.dic\nB.dic\nC.dic\n");

  run = RunVandrel({"lookup", "cherry", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "cherry\n  A  cherry in A\n  B  cherry in B\n  C  cherry in C\n");
  // Letter case does not make a word another one.
  run = RunVandrel({"lookup", "CHERRY", "-d", "A", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "cherry\n  A  cherry in A\n");
  run = RunVandrel({"find", "banana", "-d", "A", "-d", "B"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "banana\n  B  banana in B\n");
  run = RunVandrel({"find", "grape"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "grape: not found\n");
  run = RunVandrel({"words", "b", "-n", "3"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "banana\ncherry\ndate\n");
  run = RunVandrel({"words", "cherry", "-n", "10", "-d", "A"});
  EXPECT_EQ(run.out, "cherry\n");

  // The service's refusals, with its text and code.
  run = RunVandrel({"lookup", "apple", "-d", "Missing"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("Missing.dic\" not exists (error 185)"), std::string::npos) << run.err;
  run = RunVandrel({"lookup", "apple", "-d", "A", "-d", "a.dic"});
  EXPECT_NE(run.err.find("Base already opened (error 181)"), std::string::npos) << run.err;
  run = RunVandrel({"lookup"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("usage: vandrel lookup WORD"), std::string::npos) << run.err;

  // Parameters set by the command reach this client's base.
  run = RunVandrel({"params", "A", "--name", "Äpfel", "--description", "Obst"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("name:            Äpfel\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("description:     Obst\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("words:           2\n"), std::string::npos) << run.out;
  EXPECT_EQ(a.Params().Name, u"Äpfel");
  EXPECT_EQ(a.ParamsChangedCount(), 1);

  // Creating and deleting files; an existing one is kept unless forced,
  // an open one is refused.
  run = RunVandrel({"create", "en-ru", "--compress"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(DicPath("en-ru.dic")));
  run = RunVandrel({"params", "en-ru"});
  EXPECT_NE(run.out.find("trans-language:  0x0419"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("compressed:      yes"), std::string::npos) << run.out;
  run = RunVandrel({"create", "A"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("exists already"), std::string::npos) << run.err;
  run = RunVandrel({"delete", "A"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("Base \"A.dic\" now in use (error 184)"), std::string::npos) << run.err;
  run = RunVandrel({"delete", "en-ru"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(DicPath("en-ru.dic")));
  EXPECT_EQ(RunVandrel({"list"}).out, "A.dic\nB.dic\nC.dic\n");
}

}  // namespace
}  // namespace vandrel::test
