// The `vandrel` dictionary commands as a user runs them: against the
// sample dictionaries with a service they start themselves, and against a
// service that runs already, whose other client sees what they change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
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

TEST_F(CommandE2eTest, LookupShowsEveryLetterCaseOfTheWordTypedSpellingFirst) {
  Compile("A.dic", Tagged(u"A", {u"House", u"houses"}));
  Compile("B.dic", Tagged(u"B", {u"hour", u"house"}));
  Compile("C.dic", Tagged(u"C", {u"HOUSE", u"house"}));
  Compile("D.dic", Tagged(u"D", {u"hous", u"housing"}));
  Compile("E.dic", Tagged(u"E", {u"Café"}));
  auto set = NewSet();

  // The typed spelling in the dictionaries that hold it, then the other
  // letter cases in word-list order (capitals first).
  const std::string expected =
      "house\n  B  house in B\n  C  house in C\n"
      "HOUSE\n  C  HOUSE in C\n"
      "House\n  A  House in A\n";
  TRun run = RunVandrel({"lookup", "house", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, expected);
  // Any letter case typed finds the same words; its own spelling leads.
  run = RunVandrel({"lookup", "House", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "House\n  A  House in A\nHOUSE\n  C  HOUSE in C\nhouse\n  B  house in B\n  C  house in C\n");
  run = RunVandrel({"lookup", "hOUSE", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("HOUSE\n", 0), 0u) << run.out;
  // find keeps its meaning: one entry a dictionary, no other spellings.
  run = RunVandrel({"find", "house", "-d", "B"});
  EXPECT_EQ(run.out, "house\n  B  house in B\n");

  // The same entries as JSON, in the same order.
  run = RunVandrel({"lookup", "house", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["query"], "house");
  EXPECT_EQ(doc["found"], "exact");
  std::vector<std::string> seen;
  for (const auto& e : doc["entries"]) {
    seen.push_back(e["word"].get<std::string>() + "/" + e["dictionary"].get<std::string>() + "/" +
                   e["match"].get<std::string>() + "/" +
                   e["translation"]["text"].get<std::string>());
    EXPECT_EQ(e["translation"]["markup"][0]["type"], "text");
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"house/B/exact/house in B", "house/C/exact/house in C",
                                            "HOUSE/C/case/HOUSE in C", "House/A/case/House in A"}));

  // Accents apart: still the word typed.
  run = RunVandrel({"lookup", "cafe", "--raw"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Café\n  E  Café in E\n");
  run = RunVandrel({"lookup", "cafe", "--json"});
  EXPECT_EQ(nlohmann::json::parse(run.out)["entries"][0]["match"], "accents");

  // Only a nearest word: exit 1, in JSON as well.
  run = RunVandrel({"lookup", "housi", "--raw"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "housi: not found; nearest:\nhousing\n  D  housing in D\n");
  run = RunVandrel({"lookup", "housi", "--json"});
  EXPECT_EQ(run.code, 1);
  const nlohmann::json nearest = nlohmann::json::parse(run.out);
  EXPECT_EQ(nearest["found"], "nearest");
  ASSERT_EQ(nearest["entries"].size(), 1u);
  EXPECT_EQ(nearest["entries"][0]["word"], "housing");
  EXPECT_EQ(nearest["entries"][0]["match"], "nearest");
}

TEST_F(CommandE2eTest, JsonDocumentsOfTheOtherCommands) {
  TVocabCompiler compiler;
  compiler.SetLanguage(kEnglish);
  compiler.SetTransLanguage(kRussian);
  compiler.BeginCompile(DicPath("M.dic"));
  // Every construct of the marked-up text.
  compiler.AddWord(
      u"word",
      u"\u0001x\u0001\u0005дом\u0005 \u0009home\u0009\r\u000B\u0004a\u0004b\u000B\u000Craw\u000C");
  compiler.EndCompile();
  auto set = NewSet();

  TRun run = RunVandrel({"find", "word", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["found"], true);
  const nlohmann::json markup = doc["entries"][0]["translation"]["markup"];
  const nlohmann::json expected = nlohmann::json::parse(R"([
    {"type": "argument", "mark": 1, "char": "x"},
    {"type": "span", "kind": "translation", "mark": 5, "language": "ru", "language_id": 1049,
     "children": [{"type": "text", "text": "дом"}]},
    {"type": "text", "text": " "},
    {"type": "span", "kind": "word", "mark": 9, "language": "en", "language_id": 1033,
     "children": [{"type": "text", "text": "home"}]},
    {"type": "break"},
    {"type": "block", "children": [{"type": "char", "text": "a"}, {"type": "text", "text": "b"}]},
    {"type": "raw", "text": "raw"}])");
  EXPECT_EQ(markup, expected) << markup.dump(1);
  run = RunVandrel({"find", "nothing", "--json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(nlohmann::json::parse(run.out)["entries"].size(), 0u);

  run = RunVandrel({"words", "w", "--json"});
  EXPECT_EQ(nlohmann::json::parse(run.out)["words"], nlohmann::json::parse(R"(["word"])"));
  run = RunVandrel({"list", "-l", "--json"});
  doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["dictionaries"][0]["file"], "M.dic");
  EXPECT_EQ(doc["dictionaries"][0]["words"], 1);
  EXPECT_EQ(doc["dictionaries"][0]["trans_language"]["code"], "ru");
  run = RunVandrel({"params", "M", "--json"});
  doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["words"], 1);
  EXPECT_EQ(doc["language"]["id"], 1033);
  run = RunVandrel({"status", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["running"], true);
  EXPECT_GT(doc["process_id"].get<int>(), 0);

  run = RunVandrel({"dic", "info", DicPath("M.dic"), "--json"});
  EXPECT_EQ(nlohmann::json::parse(run.out)["words"], 1);
  run = RunVandrel({"dic", "lookup", DicPath("M.dic"), "word", "wore", "--json"});
  EXPECT_EQ(run.code, 1);
  doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["results"][0]["found"], "exact");
  EXPECT_EQ(doc["results"][0]["translation"]["markup"], expected);
  EXPECT_EQ(doc["results"][1]["found"], "nearest");
}

TEST_F(CommandE2eTest, WordsBeginningWithADashAndTheEndOfOptions) {
  Compile("G.dic", Tagged(u"G", {u"-able", u"-ness", u"able"}));
  auto set = NewSet();
  TRun run = RunVandrel({"find", "-able"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "-able\n  G  -able in G\n");
  run = RunVandrel({"lookup", "--raw", "--", "-ness"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "-ness\n  G  -ness in G\n");
  run = RunVandrel({"words", "-ness", "-n", "2"});
  EXPECT_EQ(run.out, "-ness\nable\n");
  run = RunVandrel({"dic", "lookup", DicPath("G.dic"), "-able", "-ness"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "-able\n  -able in G\n-ness\n  -ness in G\n");
  run = RunVandrel({"dic", "info", "--", DicPath("G.dic")});
  EXPECT_EQ(run.code, 0) << run.err;

  // An unknown option next to the word stays an error; so does "--x".
  run = RunVandrel({"find", "-x", "able"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("unknown option -x"), std::string::npos) << run.err;
  run = RunVandrel({"find", "--able"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("unknown option --able"), std::string::npos) << run.err;
  run = RunVandrel({"find", "--", "--able"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "--able: not found\n");
}

}  // namespace
}  // namespace vandrel::test
