// Base sets: the folder's files, opening and closing bases with every
// cursor kept in step and the client told in order, creating and deleting
// files, refusals of bad names and unknown handles, and a set freed with
// what its client left open.
#include "model/base_set.h"

#include <filesystem>

#include "model/base.h"
#include "model/cursor.h"
#include "platform/process.h"
#include "service/object_window.h"
#include "tests/model/model_fixture.h"

namespace vandrel::test {
namespace {

class BaseSetTest : public ModelTest {
 protected:
  // The server object behind a client's set.
  TCustomBaseSet& ServerSet(const TClientObject& set) {
    const int index = base_man->IndexOfBaseSet(set.Remote());
    EXPECT_GE(index, 0);
    return *static_cast<TCustomBaseSet*>(base_man->BaseSetList()[index]);
  }
  static std::vector<std::string> ListFiles(TClientObject& set) {
    TTransferMan& in = set.Send(BS_LIST_FILES);
    std::vector<std::string> names;
    const std::int32_t n = in.ReadInteger(kItemCount);
    for (std::int32_t i = 0; i < n; ++i) names.push_back(Narrow(in.ReadWideString(kItemFileName)));
    std::sort(names.begin(), names.end());
    return names;
  }
  static auto NameItem(const std::string& name) {
    return [name](TTransferMan& out) {
      out.WriteWideString(kItemFileName, WideString(name.begin(), name.end()));
    };
  }
};

TEST_F(BaseSetTest, ListsDictionaryFilesOnly) {
  TClient set = NewSet();
  EXPECT_TRUE(ListFiles(*set).empty());
  MakeDic("en.dic", {u"a"});
  MakeDic("B.DIC", {u"b"});
  std::filesystem::create_directory(Path("folder.dic"));
  std::ofstream(Path("notes.txt")) << "x";
  EXPECT_EQ(ListFiles(*set), (std::vector<std::string>{"B.DIC", "en.dic"}));

  SetDictionaryFolder(Path("missing"));
  EXPECT_TRUE(ListFiles(*set).empty());
}

TEST_F(BaseSetTest, OpeningASecondBaseRelocatesCursorsAfterTheBaseList) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  MakeDic("b.dic", {u"banana", u"cherry"});
  TClient set = NewSet();
  const win::HWND a = Open(*set, "a.dic");
  TClient first = NewCursor(*set, "first");
  TClient second = NewCursor(*set, "second");
  Move(*second, CR_LAST);
  Events().clear();

  const win::HWND b = Open(*set, "b.dic");
  EXPECT_EQ(set->handles, (std::vector<std::int32_t>{static_cast<std::int32_t>(a),
                                                     static_cast<std::int32_t>(b)}));
  for (TNotifyObject* c : ServerSet(*set).CursorList().List())
    EXPECT_EQ(static_cast<TCustomCursor*>(c)->Positions().size(), 2u);
  // The set's new state first, then each cursor's, then the deliveries.
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "set state bases:2",
                          "second state cherry pos 4 last 1 bases:2",
                          "set change",
                          "second change",
                      }));
  // first stayed on apple (position 1): nothing it shows has changed.
  EXPECT_EQ(Narrow(first->word), "apple");
  EXPECT_EQ(Move(*first, CR_NEXT), 1);
  EXPECT_EQ(Narrow(first->word), "banana");
  EXPECT_EQ(first->position, 2);
}

TEST_F(BaseSetTest, OpeningTheFirstBaseMovesWordlessCursorsToTheFirstWord) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  TClient set = NewSet();
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(cursor->position, -1);
  Open(*set, "a.dic");
  EXPECT_EQ(Narrow(cursor->word), "apple");
  EXPECT_EQ(cursor->position, 1);
}

TEST_F(BaseSetTest, ClosingTheFirstOfThreeBasesShiftsPositions) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  MakeDic("b.dic", {u"banana", u"cherry"});
  MakeDic("c.dic", {u"cherry", u"date"});
  TClient set = NewSet();
  const win::HWND a = Open(*set, "a.dic");
  const win::HWND b = Open(*set, "b.dic");
  const win::HWND c = Open(*set, "c.dic");
  TClient cursor = NewCursor(*set);
  Locate(*cursor, u"cherry");
  EXPECT_EQ(cursor->position, 5);
  TCustomCursor& server = *static_cast<TCustomCursor*>(ServerSet(*set).CursorList()[0]);
  const auto records = [&server] {
    std::vector<std::int32_t> r;
    for (const TDicReader& reader : server.Positions()) r.push_back(reader.RecNo());
    return r;
  };
  const std::vector<std::int32_t> before = records();
  ASSERT_EQ(before.size(), 3u);

  Close(*set, a);
  EXPECT_EQ(set->handles, (std::vector<std::int32_t>{static_cast<std::int32_t>(b),
                                                     static_cast<std::int32_t>(c)}));
  EXPECT_EQ(ServerSet(*set).IndexOfBase(b), 0);
  EXPECT_EQ(ServerSet(*set).IndexOfBase(c), 1);
  EXPECT_EQ(records(), (std::vector<std::int32_t>{before[1], before[2]}));
  EXPECT_EQ(Narrow(cursor->word), "cherry");
  EXPECT_EQ(cursor->position, 3);
  EXPECT_EQ(cursor->handles.size(), 2u);
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Narrow(cursor->word), "date");

  // The closed base's window is gone: requests to it reach nobody.
  TClient stale = Unlinked(a);
  EXPECT_THROW(stale->Send(BA_GET_NAME), Exception);
}

TEST_F(BaseSetTest, ClosingTheOnlyBaseThatHeldTheWordTellsTheClient) {
  MakeDic("a.dic", {u"apple"});
  MakeDic("empty.dic", {});
  TClient set = NewSet();
  const win::HWND a = Open(*set, "a.dic");
  Open(*set, "empty.dic");
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Narrow(cursor->word), "apple");
  Close(*set, a);
  EXPECT_EQ(cursor->position, -1);
  EXPECT_EQ(Narrow(cursor->word), "");
  EXPECT_TRUE(cursor->handles.empty());
}

TEST_F(BaseSetTest, OpenRefusesDuplicatesMissingFilesAndForeignNames) {
  MakeDic("en.dic", {u"a"});
  std::ofstream(Path("junk.dic")) << "not a dictionary at all";
  TClient set = NewSet();
  Open(*set, "en.dic");
  std::string text;
  EXPECT_EQ(OpenFails(*set, "en.dic", &text), kErrBaseAlreadyOpened);
  EXPECT_EQ(text, "Base already opened");
  EXPECT_EQ(OpenFails(*set, "EN.DIC"), kErrBaseAlreadyOpened);

  EXPECT_EQ(OpenFails(*set, "none.dic", &text), kErrBaseNotExists);
  EXPECT_EQ(text, "Base \"" + Path("none.dic") + "\" not exists");
  for (const std::string& bad :
       std::vector<std::string>{"../en.dic", "sub/en.dic", "..", "", std::string("en\0.dic", 7)})
    EXPECT_EQ(OpenFails(*set, bad), kErrBaseNotExists) << bad;

  EXPECT_EQ(OpenFails(*set, "junk.dic", &text), 1);
  EXPECT_EQ(text.rfind("CustomBaseMan.NewBase: ", 0), 0u) << text;
  EXPECT_EQ(set->handles.size(), 1u);
  EXPECT_EQ(base_man->BaseList().Count(), 1) << "the failed table is gone";

  // Another set shares the open table, whatever the letter case.
  TClient other = NewSet("other");
  Open(*other, "En.Dic");
  EXPECT_EQ(base_man->BaseList().Count(), 1);
  EXPECT_EQ(static_cast<TVocabTable*>(base_man->BaseList()[0])->RefCount(), 2);
}

TEST_F(BaseSetTest, UnknownHandlesAreRefused) {
  MakeDic("en.dic", {u"a"});
  TClient set = NewSet();
  const win::HWND base = Open(*set, "en.dic");
  TClient cursor = NewCursor(*set);
  TClient other_set = NewSet("other");
  TClient other_cursor = NewCursor(*other_set, "oc");
  auto handle = [](std::int32_t h) {
    return [h](TTransferMan& out) { out.WriteInteger(kItemHandle, h); };
  };
  for (std::int32_t h : {0, -1, 999999, static_cast<std::int32_t>(base),
                         static_cast<std::int32_t>(other_cursor->Remote())})
    EXPECT_EQ(set->FailCode(BS_FREE_CURSOR, handle(h)), kErrUnknownCursor) << h;
  std::string text;
  for (std::int32_t h : {0, 999999, static_cast<std::int32_t>(cursor->Remote())}) {
    EXPECT_EQ(set->FailCode(BS_CLOSE_BASE, handle(h), &text), kErrUnknownBase) << h;
    EXPECT_EQ(text.rfind("Unknown base \"", 0), 0u);
  }
  TClient man = Unlinked(base_man->Handle());
  EXPECT_EQ(man->FailCode(BM_FREE_BASE_SET, handle(static_cast<std::int32_t>(base)), &text),
            kErrUnknownBaseSet);
  EXPECT_EQ(text, "Unknown BaseSet");
  EXPECT_EQ(base_man->BaseSetList().Count(), 2);
  EXPECT_EQ(Narrow(cursor->word), "a");

  // Freeing works once, then the handle is unknown.
  FreeCursor(*set, *cursor);
  EXPECT_EQ(set->FailCode(BS_FREE_CURSOR, handle(static_cast<std::int32_t>(cursor->Remote()))),
            kErrUnknownCursor);
}

TEST_F(BaseSetTest, FreedSetWithOpenBasesAndCursorsLogsAndFreesThem) {
  MakeDic("en.dic", {u"a"});
  const int windows = ObjectWindowCount();
  TClient set = NewSet();
  Open(*set, "en.dic");
  TClient cursor = NewCursor(*set);
  FreeSet(*set);
  EXPECT_EQ(base_man->BaseSetList().Count(), 0);
  EXPECT_EQ(base_man->BaseList().Count(), 0) << "the table went with its last base";
  const std::string log = ReadLog();
  EXPECT_NE(log.find(" - CustomBaseSet.Destroy: CursorList.Count<>0\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - CustomBaseSet.Destroy: BaseList.Count<>0\n"), std::string::npos) << log;
  // Only the client objects' own windows are left.
  set.reset();
  cursor.reset();
  EXPECT_EQ(ObjectWindowCount(), windows);
  // The file is no longer mapped: it can be deleted.
  TClient again = NewSet("again");
  again->Send(BS_DELETE_BASE_FILE,
              [](TTransferMan& out) { out.WriteWideString(kItemFileName, u"en.dic"); });
  EXPECT_FALSE(std::filesystem::exists(Path("en.dic")));
}

TEST_F(BaseSetTest, BaseManagerFreesWhatClientsLeftBehind) {
  MakeDic("en.dic", {u"a"});
  TClient set = NewSet();
  Open(*set, "en.dic");
  TClient cursor = NewCursor(*set);
  base_man.reset();
  const std::string log = ReadLog();
  EXPECT_NE(log.find("CustomBaseMan.Destroy: BaseSetList.Count<>0"), std::string::npos) << log;
  EXPECT_EQ(log.find("CustomBaseMan.Destroy: BaseList.Count<>0"), std::string::npos) << log;
  // The server objects are gone: requests reach nobody.
  EXPECT_THROW(cursor->Send(CR_FIRST), Exception);
}

TEST_F(BaseSetTest, CreatesAndDeletesFilesInsideTheFolderOnly) {
  TClient set = NewSet();
  auto create = [&](const std::string& name, std::int32_t scramble, std::string* text = nullptr) {
    return set->FailCode(
        BS_CREATE_BASE_FILE,
        [&](TTransferMan& out) {
          out.WriteWideString(kItemFileName, WideString(name.begin(), name.end()));
          out.WriteInteger(kItemLanguage, 1049);
          out.WriteInteger(kItemTransLanguage, 1033);
          out.WriteInteger(kItemScrambled, scramble);
          out.WriteInteger(kItemCompressed, 0x101);
        },
        text);
  };
  auto remove = [&](const std::string& name, std::string* text = nullptr) {
    return set->FailCode(BS_DELETE_BASE_FILE, NameItem(name), text);
  };
  EXPECT_EQ(create("new.dic", 256), 0);
  const win::HWND base = Open(*set, "new.dic");
  TClient client = Link(base, "base");
  TClient params = Unlinked(base);
  EXPECT_EQ(params->SendForInteger(BA_GET_LANGUAGE, kItemLanguage), 1049);
  EXPECT_EQ(params->SendForInteger(BA_GET_TRANS_LANGUAGE, kItemTransLanguage), 1033);
  TVocabTable& table = *static_cast<TVocabTable*>(base_man->BaseList()[0]);
  EXPECT_FALSE(table.Scrambled()) << "only the low byte of 256 counts";
  EXPECT_TRUE(table.Compressed());
  EXPECT_EQ(table.RecordCount(), 0);

  // An open file can be neither replaced nor deleted.
  std::string text;
  EXPECT_EQ(create("NEW.dic", 0, &text), 1);
  EXPECT_EQ(text.rfind("CustomVocabMan.CreateBaseFile: ", 0), 0u) << text;
  EXPECT_EQ(remove("new.dic", &text), kErrBaseInUse);
  EXPECT_EQ(text, "Base \"new.dic\" now in use");
  Close(*set, base);

  // Replacing a closed file leaves an empty dictionary of the new kind.
  MakeDic("full.dic", {u"a", u"b"});
  EXPECT_EQ(create("FULL.DIC", 1), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("FULL.DIC"))) << "the existing name is reused";
  {
    TVocabTable check(nullptr);
    check.FileName = Path("full.dic");
    check.Open();
    EXPECT_EQ(check.RecordCount(), 0);
    EXPECT_TRUE(check.Scrambled());
  }
  EXPECT_EQ(remove("Full.Dic"), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("full.dic")));
  EXPECT_EQ(remove("full.dic", &text), 1);
  EXPECT_NE(text.find("Win32 Error.  Code: 2."), std::string::npos) << text;

  // Names that leave the folder touch nothing.
  std::ofstream(dic_.path() + "/../vandrel-model-outside.dic") << "x";
  for (const std::string bad : {"../vandrel-model-outside.dic", "/tmp/x.dic", "a/b.dic", ".."}) {
    EXPECT_EQ(remove(bad, &text), 1) << bad;
    EXPECT_NE(text.find("Code: 123."), std::string::npos) << text;
    EXPECT_EQ(create(bad, 0, &text), 1) << bad;
    EXPECT_NE(text.find("Code: 123."), std::string::npos) << text;
  }
  EXPECT_TRUE(std::filesystem::exists(dic_.path() + "/../vandrel-model-outside.dic"));
  std::filesystem::remove(dic_.path() + "/../vandrel-model-outside.dic");
  EXPECT_EQ(create("bad-language.dic", 0), 0);
  EXPECT_EQ(set->FailCode(BS_CREATE_BASE_FILE,
                          [&](TTransferMan& out) {
                            out.WriteWideString(kItemFileName, u"x.dic");
                            out.WriteInteger(kItemLanguage, 0x10000);
                            out.WriteInteger(kItemTransLanguage, 1033);
                            out.WriteInteger(kItemScrambled, 0);
                            out.WriteInteger(kItemCompressed, 0);
                          }),
            1);
}

TEST_F(BaseSetTest, ClientsThatVanishLeaveNothingBroken) {
  MakeDic("a.dic", {u"apple", u"cherry"});
  MakeDic("b.dic", {u"banana"});
  TClient set = NewSet();
  TClient cursor = NewCursor(*set);
  // The set's linked client goes away; another window of the client keeps
  // sending requests to the set.
  const win::HWND set_handle = set->Remote();
  set.reset();
  TClient requester = Unlinked(set_handle);
  requester->kind = TClientObject::TKind::kBaseSet;
  EXPECT_EQ(OpenFails(*requester, "a.dic"), kErrEmptyReadBuffer)
      << "the set could not tell its client";
  // The base is open all the same, and every cursor is in step with it.
  TCustomBaseSet& server = ServerSet(*requester);
  EXPECT_EQ(server.BaseList().Count(), 1);
  EXPECT_EQ(Narrow(cursor->word), "apple");
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
  EXPECT_EQ(Narrow(cursor->word), "cherry");
  EXPECT_EQ(static_cast<TCustomCursor*>(server.CursorList()[0])->UpdateCount(), 0)
      << "the update bracket was closed on every cursor";

  // A base whose client is gone does not keep the others from hearing of a
  // parameter change, nor fail the request of the base that wrote.
  TClient other_set = NewSet("other");
  TClient writer = Link(Open(*other_set, "A.DIC"), "writer");
  { TClient gone = Link(static_cast<win::HWND>(server.Base(0)->Handle()), "gone"); }
  Events().clear();
  writer->Send(BA_SET_NAME, [](TTransferMan& out) { out.WriteWideString(kItemName, u"Still"); });
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"writer params Still", "writer params changed Still"}));
}

TEST_F(BaseSetTest, BaseSetsOfEndedClientProcessesAreReclaimed) {
  MakeDic("a.dic", {u"apple"});
  TClient kept = NewSet("kept");
  TClient orphan = NewSet("orphan");
  Open(*orphan, "a.dic");
  TClient cursor = NewCursor(*orphan);
  EXPECT_EQ(base_man->ReclaimBaseSets(), 0) << "this process is alive";

  const win::DWORD ended = win::StartChildProcess({"/bin/true"}, dic_.path());
  ASSERT_NE(ended, 0u);
  int code = -1;
  ASSERT_TRUE(win::WaitChildProcess(ended, 10000, &code));
  ServerSet(*orphan).SetClientProcess(ended);
  EXPECT_EQ(base_man->ReclaimBaseSets(), 1);
  EXPECT_EQ(base_man->BaseSetList().Count(), 1);
  EXPECT_EQ(base_man->BaseSetList()[0]->Handle(), kept->Remote());
  EXPECT_EQ(base_man->BaseList().Count(), 0);
  EXPECT_NE(ReadLog().find("CustomBaseSet.Destroy: BaseList.Count<>0"), std::string::npos);
}

}  // namespace
}  // namespace vandrel::test
