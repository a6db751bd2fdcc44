// CR_LOOKUP and CR_PAGE through the real service, each against the same
// steps taken one request at a time (CR_LOCATE, CR_NEXT, CR_GET_TRANS) by a
// second cursor of the same set: the same words, bases, positions and
// translations, and the same cursor state afterwards. Also empty sets, the
// last page, a base closed between requests, a damaged body, counts out of
// bounds, and the notifications: carried by the answer to the cursor's own
// client (one message each way, the same callbacks in the same order),
// sent as messages to everyone else.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <random>
#include <utility>

#include "client/cursor_answers.h"
#include "client/service_error.h"
#include "dictionary/dic_format.h"
#include "model/model_ids.h"
#include "protocol/message_ids.h"
#include "protocol/page_ids.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TCursorClient;
using client::TCursorState;
using client::TPageAnswer;
using client::TPageStart;

void ExpectSameState(const TCursorState& got, const TCursorState& want, const std::string& where) {
  EXPECT_EQ(got.Word, want.Word) << where;
  EXPECT_EQ(got.Bases, want.Bases) << where;
  EXPECT_EQ(got.Position, want.Position) << where;
  EXPECT_EQ(got.IsLast, want.IsLast) << where;
}

std::string Narrow(const WideString& w) { return std::string(w.begin(), w.end()); }

class CursorPageE2eTest : public E2eTest {
 protected:
  // Three dictionaries of random words over a small alphabet (so that many
  // words are in two or three of them, in several letter cases), plus a
  // few fixed ones.
  void CompileRandom(std::uint32_t seed) {
    std::mt19937 random(seed);
    const WideString letters = u"abcehorsuHS\u00e9";
    for (int b = 0; b < 3; ++b) {
      std::vector<WideString> words{u"house", u"House", u"houses"};
      for (int i = 0; i < 150; ++i) {
        WideString w;
        for (std::size_t n = 1 + random() % 4; n > 0; --n) w += letters[random() % letters.size()];
        words.push_back(w);
      }
      std::sort(words.begin(), words.end(),
                [](const WideString& x, const WideString& y) { return CompareWords(x, y) < 0; });
      words.erase(std::unique(words.begin(), words.end(),
                              [](const WideString& x, const WideString& y) {
                                return CompareWords(x, y) == 0;
                              }),
                  words.end());
      const WideString tag(1, static_cast<char16_t>(u'A' + b));
      std::vector<TEntry> entries;
      for (const WideString& w : words) entries.push_back({w, w + u" in " + tag});
      Compile("R" + Narrow(tag) + ".dic", entries);
    }
  }

  // The page the step-by-step requests give on reference (already where
  // the page starts): the words, their bases and translations.
  static TPageAnswer StepByStep(TCursorClient& reference, std::int32_t count, TPageStart start,
                                bool with_trans, const WideString& text) {
    TPageAnswer page;
    bool on = false;
    if (start == TPageStart::FromLocate) {
      on = reference.Locate(text) && !reference.State().Word.empty();
    } else if (start == TPageStart::FromCurrent) {
      on = !reference.State().Word.empty();
    } else if (count > 0) {
      on = reference.Next();
    }
    while (on && static_cast<std::int32_t>(page.Words.size()) < count) {
      client::TPageWord w;
      w.Word = reference.State().Word;
      w.Position = reference.State().Position;
      w.Bases = reference.State().Bases;
      if (with_trans) {
        for (win::HWND base : w.Bases)
          w.Translations.push_back({base, 0, reference.GetTrans(base)});
      }
      page.Words.push_back(std::move(w));
      if (static_cast<std::int32_t>(page.Words.size()) >= count) break;
      on = reference.Next();
    }
    page.State = reference.State();
    return page;
  }

  static void ExpectSamePage(const TPageAnswer& got, const TPageAnswer& want,
                             const TCursorClient& paged, const std::string& where) {
    ASSERT_EQ(got.Words.size(), want.Words.size()) << where;
    for (std::size_t i = 0; i < got.Words.size(); ++i) {
      const std::string at = where + " word " + std::to_string(i);
      EXPECT_EQ(got.Words[i].Word, want.Words[i].Word) << at;
      EXPECT_EQ(got.Words[i].Position, want.Words[i].Position) << at;
      EXPECT_EQ(got.Words[i].Bases, want.Words[i].Bases) << at;
      ASSERT_EQ(got.Words[i].Translations.size(), want.Words[i].Translations.size()) << at;
      for (std::size_t t = 0; t < got.Words[i].Translations.size(); ++t) {
        EXPECT_EQ(got.Words[i].Translations[t].Base, want.Words[i].Translations[t].Base) << at;
        EXPECT_EQ(got.Words[i].Translations[t].Code, 0) << at;
        EXPECT_EQ(got.Words[i].Translations[t].Text, want.Words[i].Translations[t].Text) << at;
      }
    }
    // The answer's state, the state the client was sent, and the state
    // the steps left on the other cursor are one.
    ExpectSameState(got.State, want.State, where + " answer");
    ExpectSameState(paged.State(), want.State, where + " notified");
  }
};

TEST_F(CursorPageE2eTest, LookupAnswersTheLocateAndEveryTranslation) {
  CompileRandom(17);
  auto set = NewSet();
  for (const char16_t* name : {u"RA.dic", u"RB.dic", u"RC.dic"}) set->OpenBase(name);
  TCursorClient& one = set->NewCursor();
  TCursorClient& steps = set->NewCursor();
  for (const WideString& text :
       {WideString(u"house"), WideString(u"HOUSE"), WideString(u"hou"), WideString(u"b"),
        WideString(u"\u00e9s"), WideString(u"zzzz"), WideString(u"0"), WideString(u"")}) {
    const std::string where = "lookup \"" + Narrow(text) + "\"";
    const client::TLookupAnswer answer = one.LookupWord(text);
    const bool found = steps.Locate(text);
    EXPECT_EQ(answer.Found, found) << where;
    EXPECT_TRUE(answer.Skipped.empty()) << where;
    ExpectSameState(answer.State, steps.State(), where + " answer");
    ExpectSameState(one.State(), steps.State(), where + " notified");
    ASSERT_EQ(answer.Translations.size(), steps.State().Bases.size()) << where;
    EXPECT_FALSE(answer.Translations.empty()) << where;
    for (const client::TBaseTranslation& t : answer.Translations) {
      EXPECT_EQ(t.Code, 0) << where;
      EXPECT_EQ(t.Text, steps.GetTrans(t.Base)) << where;
    }
    EXPECT_EQ(one.GetPosition(), steps.GetPosition()) << where;
  }
  // The same in the service's 8-bit code page.
  const client::TLookupAnswer ansi = one.LookupWord(u"hous", false);
  EXPECT_EQ(ansi.Found, steps.Locate(u"hous", false));
  ExpectSameState(ansi.State, steps.State(), "8-bit lookup");
}

TEST_F(CursorPageE2eTest, PagesAnswerWhatTheStepsGiveFromEveryStart) {
  CompileRandom(4242);
  auto set = NewSet();
  for (const char16_t* name : {u"RA.dic", u"RB.dic", u"RC.dic"}) set->OpenBase(name);
  TCursorClient& paged = set->NewCursor();
  TCursorClient& steps = set->NewCursor();
  int case_no = 0;
  for (const WideString& text :
       {WideString(u"hou"), WideString(u"a"), WideString(u"\u00e9"), WideString(u"zzz")}) {
    for (std::int32_t count : {0, 1, 7, 20, 500}) {
      for (TPageStart start :
           {TPageStart::FromLocate, TPageStart::FromCurrent, TPageStart::AfterCurrent}) {
        const bool with_trans = (case_no++ % 2) == 0;
        const std::string where = "\"" + Narrow(text) + "\" count " + std::to_string(count) +
                                  " start " + std::to_string(static_cast<int>(start)) +
                                  (with_trans ? " with translations" : "");
        if (start != TPageStart::FromLocate) {
          ASSERT_TRUE(paged.Locate(text)) << where;
          ASSERT_TRUE(steps.Locate(text)) << where;
        }
        const TPageAnswer got = paged.Page(count, start, with_trans, text);
        const TPageAnswer want = StepByStep(steps, count, start, with_trans, text);
        ExpectSamePage(got, want, paged, where);
        if (count == 500) {
          // The last page: it ends with the list, on its last word.
          EXPECT_TRUE(got.State.IsLast) << where;
          EXPECT_LT(got.Words.size(), 500u) << where;
        }
      }
    }
  }

  // At the end of the list a page after the current word is empty and
  // leaves the cursor where it was; after a find (no position) too, while
  // a page from the current word still shows the word found.
  ASSERT_TRUE(paged.Last());
  const TCursorState last = paged.State();
  TPageAnswer end = paged.Page(20, TPageStart::AfterCurrent);
  EXPECT_TRUE(end.Words.empty());
  ExpectSameState(end.State, last, "after the last word");
  ExpectSameState(paged.State(), last, "after the last word, notified");
  ASSERT_TRUE(paged.Find(u"houses"));
  EXPECT_TRUE(paged.Page(20, TPageStart::AfterCurrent).Words.empty());
  const TPageAnswer found = paged.Page(20, TPageStart::FromCurrent, true);
  ASSERT_EQ(found.Words.size(), 1u);
  EXPECT_EQ(found.Words[0].Word, u"houses");
  EXPECT_EQ(found.Words[0].Position, -1);
  EXPECT_EQ(found.Words[0].Bases.size(), 3u);
  for (const client::TBaseTranslation& t : found.Words[0].Translations)
    EXPECT_EQ(t.Text.substr(0, 10), u"houses in ");
}

TEST_F(CursorPageE2eTest, APageSendsTheCursorStateOnceAfterItsLastStep) {
  CompileRandom(5);
  auto set = NewSet();
  for (const char16_t* name : {u"RA.dic", u"RB.dic", u"RC.dic"}) set->OpenBase(name);
  TCursorClient& paged = set->NewCursor();
  std::vector<TCursorState> heard;
  paged.OnCursorState = [&](const TCursorState& s) { heard.push_back(s); };
  const TPageAnswer page = paged.Page(20, TPageStart::FromLocate, false, u"h");
  ASSERT_EQ(page.Words.size(), 20u);
  ASSERT_EQ(heard.size(), 1u);
  ExpectSameState(heard[0], page.State, "the one notification");
  EXPECT_EQ(page.State.Word, page.Words.back().Word);
  EXPECT_EQ(page.State.Position, page.Words.back().Position);
  // A page that does not move the cursor sends nothing.
  heard.clear();
  EXPECT_TRUE(paged.Page(0, TPageStart::AfterCurrent).Words.empty());
  EXPECT_TRUE(heard.empty());
}

TEST_F(CursorPageE2eTest, EmptySetsAndEmptyDictionariesGiveEmptyAnswers) {
  Compile("Empty.dic", {});
  auto set = NewSet();
  TCursorClient& none = set->NewCursor();
  client::TLookupAnswer lookup = none.LookupWord(u"house");
  EXPECT_FALSE(lookup.Found);
  EXPECT_TRUE(lookup.Translations.empty());
  EXPECT_EQ(lookup.State.Word, u"");
  EXPECT_EQ(lookup.State.Position, -1);
  for (TPageStart start :
       {TPageStart::FromLocate, TPageStart::FromCurrent, TPageStart::AfterCurrent}) {
    const TPageAnswer page = none.Page(20, start, true, u"house");
    EXPECT_TRUE(page.Words.empty());
    EXPECT_EQ(page.State.Word, u"");
    EXPECT_EQ(page.State.Position, -1);
  }
  set->OpenBase(u"Empty.dic");
  TCursorClient& c = set->NewCursor();
  lookup = c.LookupWord(u"house");
  EXPECT_EQ(lookup.Found, false);
  EXPECT_TRUE(lookup.State.Bases.empty());
  EXPECT_TRUE(c.Page(20, TPageStart::FromLocate, false, u"a").Words.empty());
}

TEST_F(CursorPageE2eTest, ABaseClosedBetweenRequestsLeavesBothWaysInStep) {
  CompileRandom(99);
  auto set = NewSet();
  client::TBaseClient& a = set->OpenBase(u"RA.dic");
  const win::HWND b = set->OpenBase(u"RB.dic").Remote();
  set->OpenBase(u"RC.dic");
  TCursorClient& paged = set->NewCursor();
  TCursorClient& steps = set->NewCursor();
  TPageAnswer got = paged.Page(30, TPageStart::FromLocate, true, u"hou");
  TPageAnswer want = StepByStep(steps, 30, TPageStart::FromLocate, true, u"hou");
  ExpectSamePage(got, want, paged, "before the close");

  const win::HWND closed = a.Remote();
  set->CloseBase(a);  // frees a
  // Both cursors were put back on their word in the remaining bases.
  ExpectSameState(paged.State(), steps.State(), "after the close");
  got = paged.Page(30, TPageStart::AfterCurrent, true);
  want = StepByStep(steps, 30, TPageStart::AfterCurrent, true, u"");
  ExpectSamePage(got, want, paged, "after the close");
  for (const client::TPageWord& w : got.Words)
    EXPECT_EQ(std::find(w.Bases.begin(), w.Bases.end(), closed), w.Bases.end()) << Narrow(w.Word);

  const client::TLookupAnswer lookup = paged.LookupWord(u"houses");
  ASSERT_TRUE(lookup.Found);
  EXPECT_EQ(lookup.State.Bases.size(), 2u);
  EXPECT_EQ(lookup.State.Bases.front(), b);
  EXPECT_EQ(lookup.Translations.front().Text, u"houses in B");
}

TEST_F(CursorPageE2eTest, ADamagedBodyIsAnsweredAsItsOwnRequestWouldAnswerIt) {
  WideString long_text;
  for (int i = 0; i < 100; ++i) long_text += u"a long translation that compresses well; ";
  {
    TVocabCompiler compiler;
    compiler.SetLanguage(kEnglish);
    compiler.SetTransLanguage(kRussian);
    compiler.SetCompressed(true);
    compiler.BeginCompile(DicPath("Zipped.dic"));
    compiler.AddWord(u"cherry", long_text);
    compiler.EndCompile();
    // Its only body's codec byte is made one that does not exist.
    std::fstream file(DicPath("Zipped.dic"), std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t at[4];
    file.seekg(dic::kBodyStartAt);
    file.read(reinterpret_cast<char*>(at), 4);
    file.seekp(static_cast<std::streamoff>(dic::LoadU32(at)) + 1);
    file.put(static_cast<char>(0xEE));
  }
  Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  const win::HWND z = set->OpenBase(u"Zipped.dic").Remote();
  TCursorClient& cursor = set->NewCursor();
  const client::TLookupAnswer lookup = cursor.LookupWord(u"cherry");
  ASSERT_TRUE(lookup.Found);
  ASSERT_EQ(lookup.Translations.size(), 2u);
  EXPECT_EQ(lookup.Translations[0].Base, a);
  EXPECT_EQ(lookup.Translations[0].Code, 0);
  EXPECT_EQ(lookup.Translations[0].Text, u"cherry in A");
  EXPECT_EQ(lookup.Translations[1].Base, z);
  EXPECT_EQ(lookup.Translations[1].Code, 223);
  EXPECT_NE(
      Narrow(lookup.Translations[1].Text).find("title \"cherry\". Error in stored body format."),
      std::string::npos);
  try {
    cursor.GetTrans(z);
    FAIL() << "a damaged body decoded";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Code(), 223);
    EXPECT_EQ(e.Text(), Narrow(lookup.Translations[1].Text));
  }
  const TPageAnswer page = cursor.Page(5, TPageStart::FromLocate, true, u"a");
  ASSERT_EQ(page.Words.size(), 2u);
  ASSERT_EQ(page.Words[1].Translations.size(), 2u);
  for (const client::TBaseTranslation& t : page.Words[1].Translations) {
    EXPECT_EQ(t.Code, t.Base == z ? 223 : 0);
    if (t.Base == a) {
      EXPECT_EQ(t.Text, u"cherry in A");
    }
  }
}

TEST_F(CursorPageE2eTest, CountsOutOfBoundsAreRefusedAndTheCursorStays) {
  Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
  auto set = NewSet();
  set->OpenBase(u"A.dic");
  TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"apple"));
  const TCursorState before = cursor.State();
  auto expect_code = [&](int code, auto&& action) {
    try {
      action();
      ADD_FAILURE() << "no error, expected " << code;
    } catch (const EServiceError& e) {
      EXPECT_EQ(e.Code(), code) << e.Text();
    }
    ExpectSameState(cursor.State(), before, "after a refusal");
  };
  for (std::int32_t count : {-1, kMaxPageWords + 1, INT32_MAX, INT32_MIN})
    expect_code(kErrBadPageSize, [&] { cursor.Page(count, TPageStart::AfterCurrent); });
  // Raw requests that a hostile client might send: a start out of range,
  // and items missing or out of order.
  for (std::int32_t start : {3, -1, INT32_MIN}) {
    expect_code(kErrBadPageStart, [&] {
      TTransferMan& out = cursor.BeginRequest();
      out.WriteInteger(kItemCount, 5);
      out.WriteInteger(kItemPageStart, start);
      out.WriteInteger(kItemWithTrans, 0);
      cursor.Request(CR_PAGE);
    });
  }
  expect_code(5, [&] {
    TTransferMan& out = cursor.BeginRequest();
    out.WriteInteger(kItemCount, 5);
    out.WriteInteger(kItemPageStart, kPageFromLocate);
    out.WriteInteger(kItemWithTrans, 0);
    cursor.Request(CR_PAGE);  // no text to locate
  });
  expect_code(5, [&] {
    cursor.BeginRequest().WriteInteger(kItemWideFlag, 1);
    cursor.Request(CR_LOOKUP);
  });
  EXPECT_EQ(cursor.Page(1, TPageStart::FromCurrent).Words.at(0).Word, u"apple");
}

// What a client program sees of its cursor: every callback, in order, with
// the state it was given, and the messages that reached its window.
class TObserved {
 public:
  explicit TObserved(TCursorClient& cursor) : cursor_(cursor), received_(cursor.ReceivedCount()) {
    cursor.OnCursorState = [this](const TCursorState& s) {
      events_.push_back("cursor state " + Narrow(s.Word) + " @" + std::to_string(s.Position) +
                        " in " + std::to_string(s.Bases.size()) + (s.IsLast ? " last" : ""));
    };
    cursor.OnState = [this](TTransferMan&) {
      events_.push_back("state #" + std::to_string(cursor_.StateCount()));
    };
    cursor.OnChange = [this] {
      events_.push_back("change #" + std::to_string(cursor_.ChangeCount()));
    };
  }
  // The events since the last call, and the messages received meanwhile.
  std::vector<std::string> Take(int* received) {
    *received = cursor_.ReceivedCount() - received_;
    received_ = cursor_.ReceivedCount();
    return std::exchange(events_, {});
  }

 private:
  TCursorClient& cursor_;
  std::vector<std::string> events_;
  int received_;
};

// The notifications among the events: one message each when sent.
int Notifications(const std::vector<std::string>& events) {
  int n = 0;
  for (const std::string& e : events) n += e.starts_with("state #") || e.starts_with("change #");
  return n;
}

// CR_LOOKUP or CR_PAGE as a program would write it by hand, flags as given
// (without kCarryNotifications: the notifications come as messages).
std::int32_t RawLookup(client::TRemoteObject& from, const WideString& text, std::int32_t flags) {
  TTransferMan& out = from.BeginRequest();
  out.WriteWideString(kItemWord, text);
  out.WriteInteger(kItemWideFlag, 1 | flags);
  from.Request(CR_LOOKUP);
  std::int32_t carried = -1;
  client::ReadLookupAnswer(from.Answer(), &carried);
  return carried;
}

std::int32_t RawPage(client::TRemoteObject& from, std::int32_t count, const WideString& text,
                     std::int32_t flags) {
  TTransferMan& out = from.BeginRequest();
  out.WriteInteger(kItemCount, count);
  out.WriteInteger(kItemPageStart, kPageFromLocate);
  out.WriteInteger(kItemWithTrans, 1 | flags);
  out.WriteWideString(kItemWord, text);
  out.WriteInteger(kItemWideFlag, 1);
  from.Request(CR_PAGE);
  std::int32_t carried = -1;
  client::ReadPageAnswer(from.Answer(), count, true, &carried);
  return carried;
}

TEST_F(CursorPageE2eTest, TheOwnClientSeesWhatTheNotificationsShowedInOneExchange) {
  CompileRandom(31);
  auto set = NewSet();
  for (const char16_t* name : {u"RA.dic", u"RB.dic", u"RC.dic"}) set->OpenBase(name);
  TCursorClient& carried = set->NewCursor();
  TCursorClient& sent = set->NewCursor();
  TObserved seen_carried(carried);
  TObserved seen_sent(sent);
  int received = 0;
  int received_sent = 0;
  // Lookups against a plain CR_LOCATE, and against the same CR_LOOKUP
  // without the bit: the same callbacks with the same states, in the same
  // order; the one request gets no message.
  for (const WideString& text : {WideString(u"house"), WideString(u"house"), WideString(u"b"),
                                 WideString(u"zzzz"), WideString(u"\u00e9")}) {
    const std::string where = "lookup \"" + Narrow(text) + "\"";
    carried.LookupWord(text);
    const std::vector<std::string> got = seen_carried.Take(&received);
    EXPECT_EQ(received, 0) << where;
    sent.Locate(text);
    EXPECT_EQ(got, seen_sent.Take(&received_sent)) << where;
    EXPECT_EQ(received_sent, Notifications(got)) << where;
    EXPECT_EQ(RawLookup(sent, text, 0), 0) << where;
    seen_sent.Take(&received_sent);
    EXPECT_EQ(received_sent, 0) << where << ": the cursor had not moved";
    ExpectSameState(carried.State(), sent.State(), where);
    EXPECT_EQ(carried.StateCount(), sent.StateCount()) << where;
    EXPECT_EQ(carried.ChangeCount(), sent.ChangeCount()) << where;
  }
  // The first lookup moved the cursor: a state and a change were heard.
  EXPECT_GE(carried.StateCount(), 3);

  // Pages against the same page asked by hand without the bit.
  for (std::int32_t count : {20, 1, 0, 500}) {
    const std::string where = "page of " + std::to_string(count);
    const TPageAnswer page = carried.Page(count, TPageStart::FromLocate, true, u"h");
    const std::vector<std::string> got = seen_carried.Take(&received);
    EXPECT_EQ(received, 0) << where;
    EXPECT_EQ(RawPage(sent, count, u"h", 0), 0) << where;
    const std::vector<std::string> want = seen_sent.Take(&received_sent);
    EXPECT_EQ(got, want) << where;
    EXPECT_EQ(received_sent, Notifications(want)) << where;
    ExpectSameState(carried.State(), page.State, where);
    ExpectSameState(carried.State(), sent.State(), where);
  }
}

TEST_F(CursorPageE2eTest, OtherWindowsAndOtherRequestsStillGetTheNotificationsAsMessages) {
  CompileRandom(8);
  auto set = NewSet();
  for (const char16_t* name : {u"RA.dic", u"RB.dic", u"RC.dic"}) set->OpenBase(name);
  TCursorClient& cursor = set->NewCursor();
  TCursorClient& other = set->NewCursor();
  TObserved seen(cursor);
  TObserved seen_other(other);
  int received = 0;
  // A window that is not the cursor's client asks with the bit: the
  // answer carries nothing, the client is sent its notifications.
  TOwnedPtr<client::TRemoteObject> foreign(new client::TRemoteObject(cursor.Remote()));
  EXPECT_EQ(RawLookup(*foreign, u"house", kCarryNotifications), 0);
  EXPECT_EQ(seen.Take(&received).size(), 3u);
  EXPECT_EQ(received, 2);
  EXPECT_EQ(cursor.State().Word, u"house");
  EXPECT_EQ(RawPage(*foreign, 5, u"b", kCarryNotifications), 0);
  EXPECT_EQ(seen.Take(&received).size(), 3u);
  EXPECT_EQ(received, 2);
  EXPECT_EQ(cursor.State().Word, cursor.Page(1, TPageStart::FromCurrent).Words.at(0).Word);
  // The other cursor of the set heard nothing of either.
  EXPECT_TRUE(seen_other.Take(&received).empty());
  EXPECT_EQ(received, 0);

  // The cursor's own requests of the other kinds are told as messages.
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(seen.Take(&received).size(), 3u);
  EXPECT_EQ(received, 2);

  // The own client asking with the bit gets both carried when it moves,
  // none when it does not.
  EXPECT_EQ(RawLookup(cursor, u"house", kCarryNotifications), kCarriedState | kCarriedChange);
  EXPECT_EQ(RawLookup(cursor, u"house", kCarryNotifications), 0);
  seen.Take(&received);
  EXPECT_EQ(received, 0);
  cursor.LookupWord(u"b");  // what the raw requests left unapplied
  seen.Take(&received);

  // Inside an update bracket the change waits for the bracket's close, and
  // comes then as a message; the state is carried at once.
  cursor.Call(QM_BEGINUPDATE);
  EXPECT_EQ(RawLookup(cursor, u"house", kCarryNotifications), kCarriedState);
  cursor.LookupWord(u"hou");
  EXPECT_EQ(seen.Take(&received),
            (std::vector<std::string>{"cursor state " + Narrow(cursor.State().Word) + " @" +
                                          std::to_string(cursor.State().Position) + " in " +
                                          std::to_string(cursor.State().Bases.size()),
                                      "state #" + std::to_string(cursor.StateCount())}));
  EXPECT_EQ(received, 0);
  cursor.Call(QM_ENDUPDATE);
  EXPECT_EQ(seen.Take(&received),
            (std::vector<std::string>{"change #" + std::to_string(cursor.ChangeCount())}));
  EXPECT_EQ(received, 1);
}

}  // namespace
}  // namespace vandrel::test
