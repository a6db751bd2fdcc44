// Word updates through the real service: puts and deletions merged into a
// new dictionary file, the update bracket, one update at a time, progress
// and stop, and the `vandrel put|remove|update` commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/service_error.h"
#include "dictionary/dic_file.h"
#include "dictionary/dic_reader.h"
#include "model/model_ids.h"
#include "tests/e2e/word_update_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TBaseClient;

class WordUpdateE2eTest : public WordUpdateTest {
 protected:
  void SetUp() override {
    Compile("A.dic", Tagged(u"A", {u"apple", u"cherry", u"grape"}));
    Compile("B.dic", Tagged(u"B", {u"banana"}));
  }
};

TEST_F(WordUpdateE2eTest, PutOfANewWordRebuildsTheFileAndEveryClientSeesIt) {
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"A.dic");
  base.SetName(u"Fruit");
  base.SetDescription(u"Sweet things");
  const client::TBaseParams before = base.Params();
  ASSERT_EQ(before.RecordCount, 3);

  base.PutWord(u"banana", u"yellow");
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"banana", u"cherry", u"grape"}));
  EXPECT_EQ(TransOf("A.dic", u"banana"), u"yellow");
  EXPECT_EQ(TransOf("A.dic", u"cherry"), u"cherry in A");  // copied body
  EXPECT_EQ(base.Params().RecordCount, 4);
  EXPECT_EQ(base.GetName(), u"Fruit");
  EXPECT_EQ(base.GetDescription(), u"Sweet things");
  EXPECT_EQ(base.Params().ShortName, before.ShortName);
  EXPECT_GE(base.Params().CreateTime, before.CreateTime);
  EXPECT_FALSE(std::filesystem::exists(DicPath("A.tmp")));

  // Another client finds the word right after.
  const TRun lookup = RunVandrel({"lookup", "-d", "A", "--raw", "banana"});
  EXPECT_EQ(lookup.code, 0) << lookup.err;
  EXPECT_NE(lookup.out.find("yellow"), std::string::npos) << lookup.out;
}

TEST_F(WordUpdateE2eTest, DeletionsRemoveHeldWordsAndAbsentOnesChangeNothing) {
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"A.dic");
  base.DeleteWord(u"cherry");
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"grape"}));
  base.DeleteWord(u"kiwi");
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"grape"}));
  EXPECT_EQ(base.Params().RecordCount, 2);
  // A word the table cannot hold is refused, not stored as question marks.
  EXPECT_EQ(Refusal([&] { base.DeleteWord(u"\u043f\u0440\u0438"); }).Code(), 1);
  EXPECT_EQ(Refusal([&] { base.PutWord(u"   ", u"blank"); }).Code(), 1);
  // A deletion of a word longer than the table's 50 bytes is refused.
  EXPECT_EQ(Refusal([&] { base.DeleteWord(WideString(60, u'x')); }).Code(), 1);
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"grape"}));
}

TEST_F(WordUpdateE2eTest, OneBracketJoinsPutsAndADeletionReplacesWhatWasStored) {
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"A.dic");
  base.BeginUpdate();
  base.PutWord(u"kiwi", u"A");
  base.PutWord(u"kiwi", u"B");
  base.PutWord(u"apple", u"red");
  base.DeleteWord(u"apple");  // the stored put is replaced: apple goes
  base.DeleteWord(u"grape");
  base.PutWord(u"grape", u"green");  // after a deletion: alone, no "; "
  // A nested bracket must not lose the rows (it clears the pending change).
  base.BeginUpdate();
  base.EndUpdate();
  base.EndUpdate();
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"cherry", u"grape", u"kiwi"}));
  EXPECT_EQ(TransOf("A.dic", u"kiwi"), u"A; B");
  EXPECT_EQ(TransOf("A.dic", u"grape"), u"green");
  // A 60-byte word is merged as its first 50 bytes.
  base.PutWord(WideString(60, u'z'), u"long");
  EXPECT_EQ(Words("A.dic").back(), WideString(50, u'z'));
  EXPECT_FALSE(std::filesystem::exists(state_.path() + "/vandrel/Updates.tmp"));
}

TEST_F(WordUpdateE2eTest, OneUpdateAtATimeAndCountsComeBack) {
  auto set = NewSet();
  auto other = NewSet();
  TBaseClient& a = set->OpenBase(u"A.dic");
  TBaseClient& a2 = other->OpenBase(u"A.dic");
  TBaseClient& b = other->OpenBase(u"B.dic");
  a.BeginUpdate();
  a.PutWord(u"kiwi", u"green");
  const EServiceError same_file = Refusal([&] { a2.PutWord(u"fig", u"x"); });
  EXPECT_EQ(same_file.Code(), kErrBaseBusy);
  EXPECT_EQ(same_file.Text(), "Base \"\" now busy");
  EXPECT_EQ(Refusal([&] { b.BeginUpdate(); }).Code(), kErrBaseBusy);
  a.EndUpdate();
  // Freed from the bracket, both may update again.
  a2.PutWord(u"fig", u"purple");
  b.PutWord(u"cherry", u"red");
  EXPECT_EQ(Words("A.dic"),
            (std::vector<WideString>{u"apple", u"cherry", u"fig", u"grape", u"kiwi"}));
  EXPECT_EQ(Words("B.dic"), (std::vector<WideString>{u"banana", u"cherry"}));
  // A base closed inside its bracket gives the counts back.
  a2.BeginUpdate();
  other->CloseBase(a2);
  a.PutWord(u"lime", u"sour");
  EXPECT_EQ(TransOf("A.dic", u"lime"), u"sour");
}

TEST_F(WordUpdateE2eTest, ProgressEveryHundredthStepAndStopKeepsTheOldFile) {
  std::vector<TEntry> many;
  for (int i = 0; i < 9750; ++i) {
    std::string w = "w" + std::to_string(100000 + i);
    many.push_back({WideString(w.begin(), w.end()), u"t"});
  }
  Compile("Big.dic", many);
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"Big.dic");
  int calls = 0;
  std::int32_t last_total = 0;
  base.OnProgress = [&](std::int32_t, std::int32_t total) {
    ++calls;
    last_total = total;
    return false;
  };
  base.BeginUpdate();
  for (int i = 0; i < 250; ++i) {
    std::string w = "x" + std::to_string(1000 + i);
    base.PutWord(WideString(w.begin(), w.end()), u"new");
  }
  base.EndUpdate();
  EXPECT_EQ(last_total, 9999);
  EXPECT_EQ(calls, 100);
  EXPECT_EQ(base.Params().RecordCount, 10000);

  // Small merges ask after every step; a stop keeps the old file.
  const std::vector<TEntry> old = Dump("A.dic");
  TBaseClient& a = set->OpenBase(u"A.dic");
  int small_calls = 0;
  a.OnProgress = [&](std::int32_t, std::int32_t) { return ++small_calls == 2; };
  a.PutWord(u"kiwi", u"green");
  EXPECT_EQ(small_calls, 2);
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"cherry", u"grape"}));
  EXPECT_FALSE(std::filesystem::exists(DicPath("A.tmp")));
  EXPECT_EQ(a.Params().RecordCount, 3);
}

TEST_F(WordUpdateE2eTest, CommandsApplyChangesInOneRebuild) {
  Service();  // the commands find this service and its dictionary folder
  std::ofstream(DicPath("changes.tsv")) << "kiwi\tgreen\ncherry\t\napple\tred\\nfruit\n# note\n";
  const TRun update = RunVandrel({"update", "A", DicPath("changes.tsv")});
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"grape", u"kiwi"}));
  EXPECT_EQ(TransOf("A.dic", u"apple"), u"red\rfruit");
  const TRun put = RunVandrel({"put", "A", "melon", "sweet"});
  EXPECT_EQ(put.code, 0) << put.err;
  const TRun remove = RunVandrel({"remove", "A", "grape"});
  EXPECT_EQ(remove.code, 0) << remove.err;
  EXPECT_EQ(Words("A.dic"), (std::vector<WideString>{u"apple", u"kiwi", u"melon"}));
  const TRun bad = RunVandrel({"put", "A", "", "x"});
  EXPECT_NE(bad.code, 0);
}

TEST_F(WordUpdateE2eTest, LeftoversOfACutMergeAreRemovedAtStart) {
  const std::string state = state_.path() + "/vandrel";
  std::filesystem::create_directories(state);
  std::ofstream(state + "/Updates.tmp") << "left by a killed service";
  std::ofstream(DicPath("A.tmp")) << "half a dictionary";
  std::ofstream(DicPath("notes.tmp")) << "not ours";
  auto set = NewSet();
  EXPECT_FALSE(std::filesystem::exists(state + "/Updates.tmp"));
  EXPECT_FALSE(std::filesystem::exists(DicPath("A.tmp")));
  EXPECT_TRUE(std::filesystem::exists(DicPath("notes.tmp")));
  // And an update works after it.
  set->OpenBase(u"A.dic").PutWord(u"kiwi", u"green");
  EXPECT_EQ(TransOf("A.dic", u"kiwi"), u"green");
}

TEST_F(WordUpdateE2eTest, CursorsOfOtherSetsFindTheirWordInTheNewFile) {
  auto reading = NewSet();
  reading->OpenBase(u"A.dic");
  client::TCursorClient& cursor = reading->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"cherry"));
  auto writing = NewSet();
  TBaseClient& base = writing->OpenBase(u"A.dic");
  base.PutWord(u"banana", u"yellow");  // a word before the cursor's
  base.PutWord(u"blueberry", u"blue");
  EXPECT_EQ(Words("A.dic").size(), 5u);
  EXPECT_EQ(cursor.State().Word, u"cherry");
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.State().Word, u"grape");
  ASSERT_TRUE(cursor.Prior());
  ASSERT_TRUE(cursor.Prior());
  EXPECT_EQ(cursor.State().Word, u"blueberry");
}

TEST_F(WordUpdateE2eTest, ADictionaryInALanguageTheEngineDoesNotListUpdatesWithoutLoss) {
  // Macedonian: the update table is made in a listed language of the same
  // code page, so words convert both ways and keep their order.
  constexpr std::uint16_t kMacedonian = 0x042F;
  {
    TVocabCompiler compiler;
    compiler.SetLanguage(kMacedonian);
    compiler.SetTransLanguage(kEnglish);
    compiler.BeginCompile(DicPath("Mk.dic"));
    compiler.AddWord(u"\u0430\u0431", u"ab");            // аб
    compiler.AddWord(u"\u0458\u0430\u0441", u"I");       // јас
    compiler.AddWord(u"\u045f\u0435\u0431", u"pocket");  // џеб
    compiler.EndCompile();
  }
  auto set = NewSet();
  TBaseClient& base = set->OpenBase(u"Mk.dic");
  base.BeginUpdate();
  base.PutWord(u"\u0453\u0443\u0440\u0435\u0442\u0435", u"ruin");  // ѓурете
  base.PutWord(u"\u0455\u0432\u0435\u0437\u0434\u0430", u"star");  // ѕвезда
  base.PutWord(u"\u0458\u0430\u0441", u"me");
  base.EndUpdate();
  const std::vector<TEntry> now = Dump("Mk.dic");
  ASSERT_EQ(now.size(), 5u);
  EXPECT_EQ(TransOf("Mk.dic", u"\u0453\u0443\u0440\u0435\u0442\u0435"), u"ruin");
  EXPECT_EQ(TransOf("Mk.dic", u"\u0455\u0432\u0435\u0437\u0434\u0430"), u"star");
  EXPECT_EQ(TransOf("Mk.dic", u"\u0458\u0430\u0441"), u"me");
  for (std::size_t i = 1; i < now.size(); ++i)
    EXPECT_LT(CompareWords(now[i - 1].word, now[i].word), 0) << i;
  EXPECT_EQ(base.Params().Language, kMacedonian);
}

}  // namespace
}  // namespace vandrel::test
