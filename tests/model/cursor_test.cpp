// Cursors over the merged word list of a base set: walking, positions,
// independent cursors, locating, finding, assigning, translations, empty
// and damaged dictionaries. Every request goes through a client object.
#include <fstream>

#include "service/object_window.h"
#include "tests/model/model_fixture.h"

namespace vandrel::test {
namespace {

class CursorTest : public ModelTest {
 protected:
  // A = {apple, cherry}, B = {banana, cherry}, opened in that order.
  void OpenFruit() {
    MakeDic("a.dic", {u"apple", u"cherry"});
    MakeDic("b.dic", {u"banana", u"cherry"});
    set = NewSet();
    a = Open(*set, "a.dic");
    b = Open(*set, "b.dic");
  }
  static std::string State(const TClientObject& c) {
    return Narrow(c.word) + " " + std::to_string(c.position) + (c.is_last ? " last" : "");
  }

  TClient set;
  win::HWND a = 0, b = 0;
};

TEST_F(CursorTest, WalksTheMergedListWithPositionsAndLastFlag) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  // Linking sends the state of the first word.
  EXPECT_EQ(State(*cursor), "apple 1");
  EXPECT_EQ(cursor->handles, std::vector<std::int32_t>{static_cast<std::int32_t>(a)});

  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(State(*cursor), "banana 2");
  EXPECT_EQ(cursor->handles, std::vector<std::int32_t>{static_cast<std::int32_t>(b)});

  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(State(*cursor), "cherry 4 last");
  EXPECT_EQ(cursor->handles.size(), 2u);

  const int states = cursor->StateCount();
  EXPECT_EQ(Move(*cursor, CR_NEXT), 0);
  EXPECT_EQ(cursor->StateCount(), states) << "a failed step sends nothing";
  EXPECT_EQ(cursor->SendForInteger(CR_GET_POSITION, kItemResult), 4);

  EXPECT_EQ(Move(*cursor, CR_PRIOR), 1);
  EXPECT_EQ(State(*cursor), "banana 2");
  EXPECT_EQ(Move(*cursor, CR_PRIOR), 1);
  EXPECT_EQ(Move(*cursor, CR_PRIOR), 0);
  EXPECT_EQ(State(*cursor), "apple 1");

  EXPECT_EQ(Move(*cursor, CR_LAST), 1);
  EXPECT_EQ(State(*cursor), "cherry 4 last");
  EXPECT_EQ(Move(*cursor, CR_FIRST), 1);
  EXPECT_EQ(State(*cursor), "apple 1");
}

TEST_F(CursorTest, TwoCursorsOnOneSetMoveIndependently) {
  OpenFruit();
  TClient first = NewCursor(*set, "first");
  TClient second = NewCursor(*set, "second");
  EXPECT_EQ(Move(*first, CR_NEXT), 1);
  EXPECT_EQ(Move(*first, CR_NEXT), 1);
  EXPECT_EQ(State(*first), "cherry 4 last");
  EXPECT_EQ(State(*second), "apple 1");
  EXPECT_EQ(Move(*second, CR_NEXT), 1);
  EXPECT_EQ(State(*second), "banana 2");
  // The tables were moved by the other cursor in between.
  EXPECT_EQ(Move(*first, CR_PRIOR), 1);
  EXPECT_EQ(State(*first), "banana 2");
  EXPECT_EQ(Move(*second, CR_NEXT), 1);
  EXPECT_EQ(State(*second), "cherry 4 last");
}

TEST_F(CursorTest, CursorsOfTwoSetsOnSharedTablesStayApart) {
  OpenFruit();
  TClient other_set = NewSet("other");
  Open(*other_set, "B.DIC");
  EXPECT_EQ(base_man->BaseList().Count(), 2) << "b.dic is mapped once";
  TClient mine = NewCursor(*set, "mine");
  TClient theirs = NewCursor(*other_set, "theirs");
  EXPECT_EQ(State(*theirs), "banana 1");
  EXPECT_EQ(Move(*theirs, CR_NEXT), 1);
  EXPECT_EQ(State(*theirs), "cherry 2 last");
  EXPECT_EQ(Move(*mine, CR_NEXT), 1);
  EXPECT_EQ(State(*mine), "banana 2");
  EXPECT_EQ(Move(*theirs, CR_PRIOR), 1);
  EXPECT_EQ(State(*theirs), "banana 1");
}

TEST_F(CursorTest, LocatePrefersPrefixThenLargestBeforeThenSmallestAfter) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Locate(*cursor, u"ch"), 1);
  EXPECT_EQ(State(*cursor), "cherry 4 last");
  EXPECT_EQ(cursor->handles.size(), 2u);
  EXPECT_EQ(Locate(*cursor, u"bz"), 1);
  EXPECT_EQ(State(*cursor), "banana 2");
  EXPECT_EQ(Locate(*cursor, u"CHE"), 1) << "prefixes compare at primary strength";
  EXPECT_EQ(Narrow(cursor->word), "cherry");

  MakeDic("bc.dic", {u"b", u"c"});
  TClient single = NewSet("single");
  Open(*single, "bc.dic");
  TClient c2 = NewCursor(*single, "c2");
  EXPECT_EQ(Move(*c2, CR_LAST), 1);
  EXPECT_EQ(Locate(*c2, u"a"), 1);
  EXPECT_EQ(State(*c2), "b 1");
}

TEST_F(CursorTest, EightBitLocateFallsBackToFirstWhenNothingIsShared) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Move(*cursor, CR_LAST), 1);
  EXPECT_EQ(Locate(*cursor, u"xyz", false), 1);
  EXPECT_EQ(State(*cursor), "apple 1");
  EXPECT_EQ(Locate(*cursor, u"che", false), 1);
  EXPECT_EQ(State(*cursor), "cherry 4 last");
}

TEST_F(CursorTest, FindWideKeepsExactlyTheBasesThatHoldTheWord) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  MakeDic("b.dic", {u"banana", u"cherry"});
  MakeDic("c.dic", {u"date"});
  set = NewSet();
  a = Open(*set, "a.dic");
  b = Open(*set, "b.dic");
  Open(*set, "c.dic");
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Locate(*cursor, u"cherry", true, CR_FIND), 1);
  EXPECT_EQ(State(*cursor), "cherry -1");
  EXPECT_EQ(cursor->handles, (std::vector<std::int32_t>{static_cast<std::int32_t>(a),
                                                        static_cast<std::int32_t>(b)}));
  EXPECT_EQ(Move(*cursor, CR_NEXT), 0) << "a found word has no position to step from";
  EXPECT_EQ(Trans(*cursor, b), u"t:cherry");

  // The 8-bit find lists the bases in reverse order.
  EXPECT_EQ(Locate(*cursor, u"cherry", false, CR_FIND), 1);
  EXPECT_EQ(cursor->handles, (std::vector<std::int32_t>{static_cast<std::int32_t>(b),
                                                        static_cast<std::int32_t>(a)}));

  EXPECT_EQ(Locate(*cursor, u"fig", true, CR_FIND), 0);
  EXPECT_EQ(State(*cursor), " -1");
  EXPECT_TRUE(cursor->handles.empty());

  Move(*cursor, CR_FIRST);
  const int states = cursor->StateCount();
  EXPECT_EQ(Locate(*cursor, u"", true, CR_FIND), 0);
  EXPECT_EQ(cursor->StateCount(), states) << "an empty text changes nothing";
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1) << "and the cursor still steps from its word";
  EXPECT_EQ(State(*cursor), "banana 2");
}

TEST_F(CursorTest, EmptyDictionaryAndEmptySetGiveNoWord) {
  MakeDic("empty.dic", {});
  set = NewSet();
  TClient no_bases = NewCursor(*set, "none");
  EXPECT_EQ(State(*no_bases), " -1");
  EXPECT_EQ(Move(*no_bases, CR_FIRST), 0);
  EXPECT_EQ(Locate(*no_bases, u"a"), 0);

  const win::HWND empty = Open(*set, "empty.dic");
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Move(*cursor, CR_FIRST), 0);
  EXPECT_EQ(Move(*cursor, CR_LAST), 0);
  EXPECT_EQ(Locate(*cursor, u"a"), 0);
  EXPECT_EQ(Locate(*cursor, u"a", false), 0);
  EXPECT_EQ(State(*cursor), " -1");
  EXPECT_EQ(Trans(*cursor, empty), u"");

  // An empty dictionary beside a full one neither counts in positions nor
  // keeps the last word from being last.
  MakeDic("a.dic", {u"apple", u"cherry"});
  Open(*set, "a.dic");
  EXPECT_EQ(State(*cursor), "apple 1");
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(State(*cursor), "cherry 2 last");
}

TEST_F(CursorTest, OneWordDictionarySharedByTwoCursors) {
  MakeDic("one.dic", {u"solo"});
  set = NewSet();
  Open(*set, "one.dic");
  TClient first = NewCursor(*set, "first");
  TClient second = NewCursor(*set, "second");
  // The first cursor leaves the table at its start and end.
  EXPECT_EQ(Move(*first, CR_PRIOR), 0);
  EXPECT_EQ(Move(*first, CR_NEXT), 0);
  EXPECT_EQ(Locate(*second, u"so"), 1);
  EXPECT_EQ(State(*second), "solo 1 last");
  EXPECT_EQ(Locate(*second, u"solo", true, CR_FIND), 1);
}

TEST_F(CursorTest, AssignCopiesAnotherCursorOfTheSameSetOnly) {
  OpenFruit();
  TClient source = NewCursor(*set, "source");
  TClient target = NewCursor(*set, "target");
  Move(*source, CR_LAST);
  auto assign = [&](TClientObject& to, std::int32_t from) {
    return to.FailCode(CR_ASSIGN, [&](TTransferMan& out) { out.WriteInteger(kItemHandle, from); });
  };
  EXPECT_EQ(assign(*target, static_cast<std::int32_t>(source->Remote())), 0);
  EXPECT_EQ(State(*target), "cherry 4 last");
  EXPECT_EQ(Move(*target, CR_PRIOR), 1) << "the positions were copied too";
  EXPECT_EQ(State(*target), "banana 2");

  // Same position: nothing to send.
  Move(*source, CR_PRIOR);
  const int states = target->StateCount();
  EXPECT_EQ(assign(*target, static_cast<std::int32_t>(source->Remote())), 0);
  EXPECT_EQ(target->StateCount(), states);

  // Two found words both have position -1 and still differ.
  Locate(*source, u"cherry", true, CR_FIND);
  Locate(*target, u"apple", true, CR_FIND);
  EXPECT_EQ(assign(*target, static_cast<std::int32_t>(source->Remote())), 0);
  EXPECT_EQ(Narrow(target->word), "cherry");

  // Refused: a cursor of another set, the set itself, a base, nonsense.
  TClient other_set = NewSet("other");
  Open(*other_set, "a.dic");
  TClient stranger = NewCursor(*other_set, "stranger");
  std::string text;
  EXPECT_EQ(target->FailCode(
                CR_ASSIGN,
                [&](TTransferMan& out) {
                  out.WriteInteger(kItemHandle, static_cast<std::int32_t>(stranger->Remote()));
                },
                &text),
            kErrUnknownCursor);
  EXPECT_EQ(text, "Unknown Cursor");
  EXPECT_EQ(assign(*target, static_cast<std::int32_t>(set->Remote())), kErrUnknownCursor);
  EXPECT_EQ(assign(*target, static_cast<std::int32_t>(a)), kErrUnknownCursor);
  EXPECT_EQ(assign(*target, 0), kErrUnknownCursor);
  EXPECT_EQ(assign(*target, -7), kErrUnknownCursor);
  EXPECT_EQ(Narrow(target->word), "cherry");
}

TEST_F(CursorTest, TranslationsComeFromTheBasesOfTheCurrentWordOnly) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Trans(*cursor, a), u"t:apple");
  EXPECT_EQ(Trans(*cursor, b), u"") << "b does not hold apple";
  EXPECT_EQ(Trans(*cursor, 12345), u"");
  Move(*cursor, CR_LAST);
  TClient other = NewCursor(*set, "other");  // moves the tables to the first words
  EXPECT_EQ(Trans(*cursor, a), u"t:cherry");
  EXPECT_EQ(Trans(*cursor, b), u"t:cherry");
  EXPECT_EQ(Trans(*other, a), u"t:apple");
}

TEST_F(CursorTest, WrongRequestsAnswerErrorsAndUnknownIdsCodeThree) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  // Items missing or of the wrong kind: the channel's read error.
  EXPECT_EQ(cursor->FailCode(CR_LOCATE), kErrWrongReadId);
  EXPECT_EQ(cursor->FailCode(CR_GET_TRANS,
                             [](TTransferMan& out) { out.WriteWideString(kItemHandle, u"x"); }),
            kErrWrongReadId);
  EXPECT_THROW(cursor->Send(CR_UNUSED), Exception);
  EXPECT_THROW(cursor->Send(BA_GET_NAME), Exception);
  // Cursor requests sent to a base set or a base.
  EXPECT_THROW(set->Send(CR_FIRST), Exception);
  EXPECT_EQ(State(*cursor), "apple 1");
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
}

TEST_F(CursorTest, ClientThatFreesTheCursorOrSetWhileBeingToldBreaksNothing) {
  OpenFruit();
  TClient cursor = NewCursor(*set);
  TClient man = Unlinked(base_man->Handle());
  // The client frees the cursor when it hears of the move.
  bool freed = false;
  cursor->OnState = [&](TTransferMan&) {
    if (freed) return;
    freed = true;
    set->Send(BS_FREE_CURSOR, [&](TTransferMan& out) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(cursor->Remote()));
    });
  };
  // The answer carries no result: the cursor went while it was answering.
  try {
    Move(*cursor, CR_NEXT);
  } catch (const Exception&) {
  }
  EXPECT_TRUE(freed);
  EXPECT_THROW(Move(*cursor, CR_NEXT), Exception) << "the cursor is gone";

  // Now the whole set, from inside a cursor's notification.
  TClient second = NewCursor(*set, "second");
  freed = false;
  second->OnState = [&](TTransferMan&) {
    if (freed) return;
    freed = true;
    man->Send(BM_FREE_BASE_SET, [&](TTransferMan& out) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(set->Remote()));
    });
  };
  try {
    Move(*second, CR_LAST);
  } catch (const Exception&) {
  }
  EXPECT_TRUE(freed);
  EXPECT_EQ(base_man->BaseSetList().Count(), 0);
  EXPECT_EQ(base_man->BaseList().Count(), 0);
  EXPECT_THROW(Move(*second, CR_FIRST), Exception);
  cursor.reset();
  second.reset();
  set.reset();
  man.reset();
  EXPECT_EQ(ObjectWindowCount(), 1) << "only the base manager is left";
}

// Overwrites count bytes at offset of a file with value.
void Damage(const std::string& path, std::streamoff offset, std::size_t count,
            char value = static_cast<char>(0xFF)) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  for (std::size_t i = 0; i < count; ++i) file.put(value);
}

TEST_F(CursorTest, DamagedBodyAnswersBodyFormatErrorAndServiceGoesOn) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  {
    // Damage the translation of apple: the body area lies after every page
    // that a cursor needs to walk, and starts with apple's body.
    TDicTable table;
    table.FileName = Path("a.dic");
    table.Open();
    const std::string body = table.GetEncodedBody();
    table.Close();
    std::ifstream in(Path("a.dic"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.find(body);
    ASSERT_NE(at, std::string::npos);
    in.close();
    // A control byte that no body holds.
    Damage(Path("a.dic"), static_cast<std::streamoff>(at), 1, '\x0E');
  }
  MakeDic("b.dic", {u"banana"});
  set = NewSet();
  a = Open(*set, "a.dic");
  b = Open(*set, "b.dic");
  TClient cursor = NewCursor(*set);
  std::string text;
  EXPECT_EQ(
      cursor->FailCode(
          CR_GET_TRANS,
          [&](TTransferMan& out) { out.WriteInteger(kItemHandle, static_cast<std::int32_t>(a)); },
          &text),
      kErrBodyFormat);
  EXPECT_NE(text.find("title \"apple\". Error in stored body format.\r\n"), std::string::npos)
      << text;
  EXPECT_EQ(boxes.size(), 1u) << "the failure is shown once";
  EXPECT_EQ(State(*cursor), "apple 1") << "the cursor stays where it was";

  // Everything else goes on.
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Trans(*cursor, b), u"t:banana");
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Trans(*cursor, a), u"t:cherry");
}

TEST_F(CursorTest, ADamagedDictionaryIsPassedOverAndReportedWhileTheOthersAnswer) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  MakeDic("b.dic", {u"banana", u"date"});
  set = NewSet();
  b = Open(*set, "b.dic");
  a = Open(*set, "a.dic");
  TClient cursor = NewCursor(*set);
  ASSERT_EQ(State(*cursor), "apple 1");
  {
    // The words live in the leaf page after the header and index pages:
    // wipe its item table while the file is mapped (the mapping shows the
    // new bytes).
    TDicTable probe;
    probe.FileName = Path("a.dic");
    probe.Open();
    ASSERT_EQ(probe.LayerCount(), 1u);
    const std::uint32_t page = probe.PageSize();
    probe.Close();
    Damage(Path("a.dic"), 2 * page, 64);
  }
  // Every move answers from b, and names a in its answer.
  const auto move = [&](std::uint16_t id, std::vector<std::string>* skipped) {
    TTransferMan& in = cursor->Send(id);
    const std::int32_t result = in.ReadInteger(kItemResult);
    skipped->clear();
    for (;;) {
      std::int32_t base = 0;
      try {
        base = in.ReadInteger(kItemSkippedBase);
      } catch (const ELocal&) {
        break;  // no more items
      }
      EXPECT_EQ(base, static_cast<std::int32_t>(a));
      skipped->push_back(Narrow(in.ReadWideString(kItemSkippedWhy)));
    }
    return result;
  };
  std::vector<std::string> skipped;
  EXPECT_EQ(move(CR_LAST, &skipped), 1);
  EXPECT_EQ(Narrow(cursor->word), "date");
  EXPECT_EQ(skipped, std::vector<std::string>{"a.dic: damaged (leaf page 0)"});
  EXPECT_EQ(move(CR_PRIOR, &skipped), 1);
  EXPECT_EQ(Narrow(cursor->word), "banana");
  EXPECT_EQ(move(CR_FIRST, &skipped), 1);
  EXPECT_EQ(Narrow(cursor->word), "banana");
  EXPECT_EQ(skipped.size(), 1u);
  EXPECT_EQ(Locate(*cursor, u"dat"), 1);
  EXPECT_EQ(Narrow(cursor->word), "date");
  EXPECT_EQ(Trans(*cursor, b), u"t:date");
  EXPECT_TRUE(boxes.empty()) << "nothing failed that a user must be shown";
  // The log names the file, the place and the check, once.
  const std::string log = ReadLog();
  const std::string line = "a.dic: damaged (leaf page 0): leaf page 0 (file offset 16384): ";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << log;

  // The other dictionary still serves its own set.
  TClient other_set = NewSet("other");
  Open(*other_set, "b.dic");
  TClient other = NewCursor(*other_set, "other");
  EXPECT_EQ(State(*other), "banana 1");
}

}  // namespace
}  // namespace vandrel::test
