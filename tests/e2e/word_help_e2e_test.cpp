// `vandrel lookup` and `find` for words the dictionaries do not hold:
// inflected forms shown through their base forms (English, German,
// Russian), suggestions ordered by edit distance, and the nearest word
// kept when a word begins with the text.
#include <gtest/gtest.h>

#include <sstream>

#include "dictionary/word_match.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

class WordHelpE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    Compile("En.dic", {{u"horse", u"Pferd"},
                       {u"hour", u"Stunde"},
                       {u"house", u"Haus"},
                       {u"mouse", u"Maus"},
                       {u"walk", u"gehen"}});
    CompileIn("De.dic", 0x0407, {{u"Haus", u"house"}, {u"Kind", u"child"}});
    CompileIn("Ru.dic", 0x0419, {{u"\u0434\u043e\u043c", u"house"}});
    Service();
  }
  void CompileIn(const std::string& name, std::uint16_t language,
                 const std::vector<TEntry>& entries) {
    TVocabCompiler compiler;
    compiler.SetLanguage(language);
    compiler.SetTransLanguage(kEnglish);
    compiler.BeginCompile(DicPath(name));
    for (const TEntry& e : entries) compiler.AddWord(e.word, e.trans);
    compiler.EndCompile();
  }
};

TEST_F(WordHelpE2eTest, InflectedFormsShowTheirBaseFormsEntries) {
  TRun run = RunVandrel({"lookup", "houses", "--color=never"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("houses \u2192 house\nhouse\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Haus"), std::string::npos) << run.out;

  run = RunVandrel({"lookup", "H\u00e4user", "--color=never"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("H\u00e4user \u2192 Haus"), std::string::npos) << run.out;

  run = RunVandrel({"find", "\u0434\u043e\u043c\u0430", "--color=never"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("\u0434\u043e\u043c\u0430 \u2192 \u0434\u043e\u043c"), std::string::npos)
      << run.out;
}

TEST_F(WordHelpE2eTest, UnknownWordsGetSuggestionsNearestFirst) {
  for (const char* command : {"lookup", "find"}) {
    const TRun run = RunVandrel({command, "housx", "--color=never"});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "housx: not found; did you mean:") << command;
    std::vector<std::string> words;
    while (std::getline(lines, line)) words.push_back(line.substr(2));
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words[0], "house");
    int last = 0;
    for (const std::string& w : words) {
      const int d = EditDistance(FoldWord(WideString(w.begin(), w.end())), FoldWord(u"housx"), 9);
      EXPECT_LE(d, 2) << w;
      EXPECT_GE(d, last) << w;
      last = d;
    }
    EXPECT_EQ(std::find(words.begin(), words.end(), "walk"), words.end());
  }
  // A word that begins with the text is still the nearest.
  const TRun run = RunVandrel({"lookup", "hous", "--color=never"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("hous: not found; nearest:\nhouse\n"), std::string::npos) << run.out;
  const TRun nothing = RunVandrel({"lookup", "zzzzzzz", "--color=never"});
  EXPECT_EQ(nothing.out, "zzzzzzz: not found\n");
}

}  // namespace
}  // namespace vandrel::test
