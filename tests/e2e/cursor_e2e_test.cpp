// Cursors through the real service: walking the merged word list of
// several dictionaries, independent cursors, locating and finding, empty
// dictionaries, and cursors kept in place while bases are opened and
// closed in their set.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client/service_error.h"
#include "dictionary/dic_format.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TBaseClient;
using client::TCursorClient;

std::vector<win::HWND> Sorted(std::vector<win::HWND> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class CursorE2eTest : public E2eTest {
 protected:
  // A = {apple, cherry}, B = {banana, cherry}, C = {cherry, date}.
  void SetUp() override {
    Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
    Compile("B.dic", Tagged(u"B", {u"banana", u"cherry"}));
    Compile("C.dic", Tagged(u"C", {u"cherry", u"date"}));
  }
  static void ExpectAt(const TCursorClient& c, const WideString& word, std::vector<win::HWND> bases,
                       std::int32_t position, bool is_last) {
    EXPECT_EQ(c.State().Word, word);
    EXPECT_EQ(Sorted(c.State().Bases), Sorted(bases)) << "bases of " << c.State().Word.size();
    EXPECT_EQ(c.State().Position, position);
    EXPECT_EQ(c.State().IsLast, is_last);
  }
};

TEST_F(CursorE2eTest, WalksTheMergedWordListWithPositionsAndTheLastWord) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  TCursorClient& c = set->NewCursor();
  // A new cursor stands on the first word, and its client was told so.
  ExpectAt(c, u"apple", {a}, 1, false);
  EXPECT_GE(c.StateCount(), 1);

  EXPECT_TRUE(c.Next());
  ExpectAt(c, u"banana", {b}, 2, false);
  EXPECT_TRUE(c.Next());
  ExpectAt(c, u"cherry", {a, b}, 4, true);
  EXPECT_EQ(c.GetTrans(a), u"cherry in A");
  EXPECT_EQ(c.GetTrans(b), u"cherry in B");

  // Past the end: answered 0, nothing moves and nothing is sent.
  const int states = c.StateCount();
  EXPECT_FALSE(c.Next());
  EXPECT_EQ(c.StateCount(), states);
  ExpectAt(c, u"cherry", {a, b}, 4, true);
  EXPECT_EQ(c.GetPosition(), 4);

  EXPECT_TRUE(c.Prior());
  ExpectAt(c, u"banana", {b}, 2, false);
  // A base that does not hold the current word gives no translation.
  EXPECT_EQ(c.GetTrans(a), u"");
  EXPECT_TRUE(c.Prior());
  ExpectAt(c, u"apple", {a}, 1, false);
  EXPECT_FALSE(c.Prior());
  ExpectAt(c, u"apple", {a}, 1, false);

  EXPECT_TRUE(c.Last());
  ExpectAt(c, u"cherry", {a, b}, 4, true);
  EXPECT_TRUE(c.First());
  ExpectAt(c, u"apple", {a}, 1, false);
}

TEST_F(CursorE2eTest, TwoCursorsMoveIndependentlyAndAssignCopiesAPlace) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  TCursorClient& one = set->NewCursor();
  TCursorClient& two = set->NewCursor();

  EXPECT_TRUE(one.Next());
  ExpectAt(one, u"banana", {b}, 2, false);
  // The other cursor stayed where it was, in the service too.
  ExpectAt(two, u"apple", {a}, 1, false);
  EXPECT_EQ(two.GetPosition(), 1);
  EXPECT_EQ(two.GetTrans(a), u"apple in A");
  // ... and continues from its own word, although the tables were last
  // moved for the first cursor.
  EXPECT_TRUE(two.Next());
  ExpectAt(two, u"banana", {b}, 2, false);
  EXPECT_TRUE(one.Next());
  ExpectAt(one, u"cherry", {a, b}, 4, true);
  EXPECT_TRUE(two.Prior());
  ExpectAt(two, u"apple", {a}, 1, false);

  two.Assign(one);
  ExpectAt(two, u"cherry", {a, b}, 4, true);
  EXPECT_EQ(two.GetTrans(b), u"cherry in B");
  EXPECT_TRUE(two.Prior());
  ExpectAt(one, u"cherry", {a, b}, 4, true);

  // Assigning from a cursor on the same position number changes nothing.
  one.Assign(two);  // two is on banana (2), one moves there
  ExpectAt(one, u"banana", {b}, 2, false);
  const int states = one.StateCount();
  one.Assign(two);
  EXPECT_EQ(one.StateCount(), states);

  // A window that is not a cursor of this service is refused.
  EXPECT_THROW(one.Assign(a), EServiceError);
  EXPECT_THROW(one.Assign(Service().ManagerWindow()), EServiceError);
  ExpectAt(one, u"banana", {b}, 2, false);
}

TEST_F(CursorE2eTest, LocatePrefersAPrefixThenTheWordBeforeThenTheWordAfter) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  TCursorClient& c = set->NewCursor();
  EXPECT_TRUE(c.Locate(u"ch"));
  ExpectAt(c, u"cherry", {a, b}, 4, true);
  EXPECT_TRUE(c.Locate(u"bz"));
  ExpectAt(c, u"banana", {b}, 2, false);
  EXPECT_TRUE(c.Locate(u"APP"));
  ExpectAt(c, u"apple", {a}, 1, false);
  // Every word begins with the empty text: the smallest wins.
  EXPECT_TRUE(c.Next());
  EXPECT_TRUE(c.Locate(u""));
  ExpectAt(c, u"apple", {a}, 1, false);
  // An 8-bit text that shares no beginning with any dictionary's nearest
  // word falls back to the first word.
  EXPECT_TRUE(c.Locate(u"zq", false));
  ExpectAt(c, u"apple", {a}, 1, false);
  EXPECT_TRUE(c.Locate(u"che", false));
  EXPECT_EQ(c.State().Word, u"cherry");

  // No word begins with "a", none sorts before it: the smallest after it.
  Compile("BC.dic", Tagged(u"BC", {u"b", u"c"}));
  auto other = NewSet();
  const win::HWND bc = other->OpenBase(u"BC.dic").Remote();
  TCursorClient& d = other->NewCursor();
  EXPECT_TRUE(d.Locate(u"a"));
  ExpectAt(d, u"b", {bc}, 1, false);
  EXPECT_TRUE(d.Locate(u"bb"));
  ExpectAt(d, u"b", {bc}, 1, false);
  EXPECT_TRUE(d.Locate(u"zz"));
  ExpectAt(d, u"c", {bc}, 2, true);
}

TEST_F(CursorE2eTest, FindTakesExactlyTheBasesThatHoldTheWord) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  const win::HWND cc = set->OpenBase(u"C.dic").Remote();
  TCursorClient& c = set->NewCursor();

  EXPECT_TRUE(c.Find(u"banana"));
  ExpectAt(c, u"banana", {b}, -1, c.State().IsLast);
  EXPECT_TRUE(c.Find(u"date"));
  ExpectAt(c, u"date", {cc}, -1, c.State().IsLast);
  EXPECT_TRUE(c.Find(u"cherry"));
  EXPECT_EQ(c.State().Word, u"cherry");
  EXPECT_EQ(Sorted(c.State().Bases), Sorted({a, b, cc}));

  // Two of three.
  Compile("D.dic", Tagged(u"D", {u"banana", u"fig"}));
  auto other = NewSet();
  const win::HWND a2 = other->OpenBase(u"A.dic").Remote();
  const win::HWND b2 = other->OpenBase(u"B.dic").Remote();
  const win::HWND d2 = other->OpenBase(u"D.dic").Remote();
  TCursorClient& f = other->NewCursor();
  EXPECT_TRUE(f.Find(u"banana"));
  EXPECT_EQ(Sorted(f.State().Bases), Sorted({b2, d2}));
  EXPECT_EQ(f.State().Position, -1);
  EXPECT_EQ(f.GetTrans(d2), u"banana in D");
  EXPECT_EQ(f.GetTrans(a2), u"");
  // After a find there is no position to move from.
  EXPECT_FALSE(f.Next());
  EXPECT_FALSE(f.Prior());
  EXPECT_EQ(f.State().Word, u"banana");

  // Not found: no word. An empty text: answered 0, nothing sent.
  EXPECT_FALSE(f.Find(u"grape"));
  EXPECT_EQ(f.State().Word, u"");
  EXPECT_TRUE(f.State().Bases.empty());
  EXPECT_TRUE(f.First());
  const int states = f.StateCount();
  EXPECT_FALSE(f.Find(u""));
  EXPECT_EQ(f.StateCount(), states);
}

TEST_F(CursorE2eTest, EmptyDictionariesAndEmptySetsGiveNoWord) {
  Compile("Empty.dic", {});
  auto set = NewSet();
  TCursorClient& none = set->NewCursor();  // no base at all
  EXPECT_EQ(none.State().Position, -1);
  EXPECT_FALSE(none.First());
  EXPECT_FALSE(none.Locate(u"a"));
  EXPECT_EQ(none.State().Word, u"");

  const win::HWND empty = set->OpenBase(u"Empty.dic").Remote();
  TBaseClient* base = set->FindBase(empty);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->Params().RecordCount, 0);
  TCursorClient& c = set->NewCursor();
  EXPECT_FALSE(c.First());
  EXPECT_FALSE(c.Last());
  EXPECT_FALSE(c.Locate(u"apple"));
  EXPECT_FALSE(c.Find(u"apple"));
  EXPECT_EQ(c.State().Word, u"");
  EXPECT_TRUE(c.State().Bases.empty());

  // Beside a dictionary with words the empty one is passed over.
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  EXPECT_TRUE(c.First());
  ExpectAt(c, u"apple", {a}, 1, false);
  EXPECT_TRUE(c.Last());
  ExpectAt(c, u"cherry", {a}, 2, true);
}

TEST_F(CursorE2eTest, OpeningABaseSendsTheBaseListThenReLocatesEveryCursor) {
  auto set = NewSet();
  std::vector<std::string> events;
  set->OnBaseList = [&](const std::vector<win::HWND>& bases) {
    events.push_back("bases " + std::to_string(bases.size()));
  };
  TCursorClient& lost = set->NewCursor();  // no base yet: no word
  EXPECT_EQ(lost.State().Word, u"");
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  // A cursor without a word lands on the smallest word.
  ExpectAt(lost, u"apple", {a}, 1, false);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "bases 1");

  TCursorClient& c = set->NewCursor();
  EXPECT_TRUE(c.Locate(u"cherry"));
  ExpectAt(c, u"cherry", {a}, 2, true);
  c.OnCursorState = [&](const client::TCursorState& s) {
    events.push_back("cursor " + std::to_string(s.Bases.size()));
  };
  events.clear();
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  EXPECT_EQ(set->BaseWindows(), (std::vector<win::HWND>{a, b}));
  // The client hears of the new base list before the cursor moves.
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front(), "bases 2");
  EXPECT_EQ(events.back(), "cursor 2");
  ExpectAt(c, u"cherry", {a, b}, 4, true);
  ExpectAt(lost, u"apple", {a}, 1, false);
  // The new base's place is the cursor's own: stepping works on both.
  EXPECT_TRUE(c.Prior());
  ExpectAt(c, u"banana", {b}, 2, false);
  EXPECT_TRUE(lost.Next());
  ExpectAt(lost, u"banana", {b}, 2, false);
}

TEST_F(CursorE2eTest, ClosingTheFirstOfThreeBasesKeepsTheOthersInStep) {
  auto set = NewSet();
  TBaseClient& first = set->OpenBase(u"A.dic");
  const win::HWND b = set->OpenBase(u"B.dic").Remote();
  const win::HWND c = set->OpenBase(u"C.dic").Remote();
  TCursorClient& cursor = set->NewCursor();
  EXPECT_TRUE(cursor.Locate(u"date"));
  // apple, banana, cherry x3, date
  ExpectAt(cursor, u"date", {c}, 6, true);

  set->CloseBase(first);
  EXPECT_EQ(set->BaseWindows(), (std::vector<win::HWND>{b, c}));
  EXPECT_EQ(set->Bases().size(), 2u);
  // banana, cherry x2, date
  ExpectAt(cursor, u"date", {c}, 4, true);
  EXPECT_TRUE(cursor.Prior());
  ExpectAt(cursor, u"cherry", {b, c}, 3, false);
  EXPECT_EQ(cursor.GetTrans(c), u"cherry in C");
  EXPECT_TRUE(cursor.Prior());
  ExpectAt(cursor, u"banana", {b}, 1, false);
  EXPECT_FALSE(cursor.Prior());
  EXPECT_TRUE(cursor.Last());
  ExpectAt(cursor, u"date", {c}, 4, true);
}

TEST_F(CursorE2eTest, UnknownWindowsAreRefusedWithTheirCodes) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND cursor = set->NewCursor().Remote();
  auto expect_code = [](int code, auto&& action) {
    try {
      action();
      ADD_FAILURE() << "no error, expected " << code;
    } catch (const EServiceError& e) {
      EXPECT_EQ(e.Code(), code) << e.Text();
    }
  };
  expect_code(182, [&] { set->FreeCursorWindow(a); });
  expect_code(183, [&] { set->CloseBaseWindow(cursor); });
  expect_code(141, [&] { BaseMan().FreeBaseSetWindow(a); });
  try {
    BaseMan().FreeBaseSetWindow(cursor);
    ADD_FAILURE() << "freed a cursor as a base set";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Text(), "Unknown BaseSet");
  }
  // Nothing was freed by the refusals.
  EXPECT_EQ(set->BaseWindows(), (std::vector<win::HWND>{a}));
  EXPECT_TRUE(set->Cursors().front()->First());
}

// One damaged dictionary among three: a compressed body of one cannot be
// read and the leaf page of another is wiped while it is open. The others
// go on answering every request, the damaged body's request fails with its
// own error naming its dictionary, and the error log names both files.
TEST_F(CursorE2eTest, OneDamagedDictionaryDoesNotHideTheOthers) {
  WideString long_text;
  for (int i = 0; i < 200; ++i) long_text += u"a long translation that compresses well; ";
  {
    TVocabCompiler compiler;
    compiler.SetLanguage(kEnglish);
    compiler.SetTransLanguage(kRussian);
    compiler.SetCompressed(true);
    compiler.BeginCompile(DicPath("Zipped.dic"));
    compiler.AddWord(u"cherry", long_text);
    compiler.EndCompile();
    // Its only body is stored compressed: byte 0, then the codec number,
    // which is made one that does not exist.
    std::fstream file(DicPath("Zipped.dic"), std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t at[4];
    file.seekg(dic::kBodyStartAt);
    file.read(reinterpret_cast<char*>(at), 4);
    file.seekp(static_cast<std::streamoff>(dic::LoadU32(at)) + 1);
    file.put(static_cast<char>(0xEE));
  }
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND z = set->OpenBase(u"Zipped.dic").Remote();
  const win::HWND c = set->OpenBase(u"C.dic").Remote();
  TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"cherry"));
  ExpectAt(cursor, u"cherry", {a, z, c}, 4, false);
  EXPECT_EQ(cursor.GetTrans(a), u"cherry in A");
  try {
    cursor.GetTrans(z);
    FAIL() << "a damaged body decoded";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Code(), 223);
    EXPECT_NE(e.Text().find("title \"cherry\". Error in stored body format."), std::string::npos)
        << e.Text();
  }
  EXPECT_EQ(cursor.GetTrans(c), u"cherry in C");

  // C's leaf page (after the header and the root index page) is wiped while
  // the service has it mapped: every move passes over it.
  {
    std::fstream file(DicPath("C.dic"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(2 * dic::kCompilerPageSize);
    for (int i = 0; i < 64; ++i) file.put(static_cast<char>(0xFF));
  }
  ASSERT_TRUE(cursor.Last());
  EXPECT_EQ(cursor.State().Word, u"cherry");
  ASSERT_TRUE(cursor.First());
  ExpectAt(cursor, u"apple", {a}, 1, false);
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.State().Word, u"cherry");
  // C may still show the word its own position had read before the damage.
  const std::vector<win::HWND> bases = cursor.State().Bases;
  EXPECT_NE(std::find(bases.begin(), bases.end(), a), bases.end());
  EXPECT_NE(std::find(bases.begin(), bases.end(), z), bases.end());
  EXPECT_EQ(cursor.GetTrans(a), u"cherry in A");
  EXPECT_FALSE(cursor.Next()) << "date lives only in the damaged page";

  // The service's error log names both files and where they failed.
  const std::string log = ReadFile(state_.path() + "/vandrel/Errors.log");
  EXPECT_NE(log.find("Zipped.dic: damaged (body of record 0)"), std::string::npos) << log;
  EXPECT_NE(log.find("C.dic: damaged (leaf page 0)"), std::string::npos) << log;
}

}  // namespace
}  // namespace vandrel::test
