// Bases: the parameters a client receives when it links and after every
// rewrite of the file's parameter strings by any base on the same table,
// parameter edits, the plain getters, progress questions and the shared
// table's references.
#include "model/base.h"

#include "model/base_set.h"
#include "model/object_model.h"
#include "service/manager.h"
#include "tests/model/model_fixture.h"

namespace vandrel::test {
namespace {

class BaseTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    MakeDic("EN-RU.dic", {u"apple", u"cherry"}, 1033);
    WriteBaseParams(Path("EN-RU.dic"), u"English", u"EN", u"Words");
  }
  TVocabTable& Table() { return *static_cast<TVocabTable*>(base_man->BaseList()[0]); }
  static void SetString(TClientObject& base, std::uint16_t id, std::uint16_t item,
                        const WideString& value) {
    base.Send(id, [&](TTransferMan& out) { out.WriteWideString(item, value); });
  }
  static WideString GetString(TClientObject& base, std::uint16_t id, std::uint16_t item) {
    return base.Send(id).ReadWideString(item);
  }
};

TEST_F(BaseTest, LinkingSendsAllParametersInOrder) {
  TClient set = NewSet();
  const win::HWND handle = Open(*set, "en-ru.dic");
  std::vector<std::string> items;
  // A client that reads every item of BA_PARAMS in the order sent.
  class TReader : public TClientObject {
   public:
    using TClientObject::TClientObject;
    std::vector<std::string>* items = nullptr;
    static const TMessageTable& MessageTable() {
      static const TMessageTable table("TReader", &TClientObject::MessageTable(),
                                       {{BA_PARAMS, &TReader::Params}});
      return table;
    }
    const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
    void Params(TMessage&) {
      TTransferMan& in = Transfer();
      items->push_back(Narrow(in.ReadWideString(kItemName)));
      items->push_back(Narrow(in.ReadWideString(kItemShortName)));
      items->push_back(Narrow(in.ReadWideString(kItemDescription)));
      items->push_back(std::to_string(in.ReadInteger(kItemVersion)));
      items->push_back(std::to_string(in.ReadInteger(kItemLanguage)));
      items->push_back(std::to_string(in.ReadInteger(kItemTransLanguage)));
      items->push_back(Narrow(in.ReadWideString(kItemFirstChars)));
      items->push_back(Narrow(in.ReadWideString(kItemLangChars)).substr(0, 0) + "chars");
      items->push_back(std::to_string(in.ReadInteger(kItemRecordCount)));
      items->push_back(in.ReadDouble(kItemCreateTime) > 40000 ? "time" : "no time");
      items->push_back(std::to_string(in.ReadInteger(kItemScrambled)));
      items->push_back(std::to_string(in.ReadInteger(kItemCompressed)));
    }
  };
  TOwnedPtr<TReader> reader(new TReader(handle, "reader"));
  reader->items = &items;
  reader->Connect();
  EXPECT_EQ(items, (std::vector<std::string>{"English", "EN", "Words", "3", "1033", "1049", "ac",
                                             "chars", "2", "time", "0", "0"}));
}

TEST_F(BaseTest, GettersAnswerFromTheTable) {
  TClient set = NewSet();
  TClient base = Unlinked(Open(*set, "en-ru.dic"));
  EXPECT_EQ(GetString(*base, BA_GET_NAME, kItemName), u"English");
  EXPECT_EQ(GetString(*base, BA_GET_SHORT_NAME, kItemShortName), u"EN");
  EXPECT_EQ(GetString(*base, BA_GET_DESCRIPTION, kItemDescription), u"Words");
  EXPECT_EQ(GetString(*base, BA_GET_FILE_NAME, kItemBaseFileName), u"EN-RU.dic");
  EXPECT_EQ(GetString(*base, BA_GET_FIRST_CHARS, kItemFirstChars), u"ac");
  EXPECT_EQ(base->SendForInteger(BA_GET_VERSION, kItemVersion), 3);
  EXPECT_EQ(base->Send(BA_GET_CREATE_TIME).ReadDouble(kItemCreateTime), Table().CreateTime());
  // The languages are fixed by the compiler: setting them is accepted and
  // changes nothing.
  base->Send(BA_SET_LANGUAGE, [](TTransferMan& out) { out.WriteInteger(kItemLanguage, 1049); });
  base->Send(BA_SET_TRANS_LANGUAGE);
  EXPECT_EQ(base->SendForInteger(BA_GET_LANGUAGE, kItemLanguage), 1033);
  // Word updates are not served by this base.
  EXPECT_THROW(base->Send(BA_PUT_WORD), Exception);
  EXPECT_THROW(base->Send(BA_DELETE_WORD), Exception);
}

TEST_F(BaseTest, ParameterChangeReachesEveryBaseOnTheFile) {
  TClient set1 = NewSet("set1");
  TClient set2 = NewSet("set2");
  TClient base1 = Link(Open(*set1, "en-ru.dic"), "base1");
  TClient base2 = Link(Open(*set2, "EN-RU.DIC"), "base2");
  EXPECT_EQ(Table().RefCount(), 2);
  EXPECT_EQ(Table().ParamsHandlers().size(), 2u);
  Events().clear();

  SetString(*base2, BA_SET_NAME, kItemName, u"Renamed");
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "base1 params Renamed",
                          "base1 params changed Renamed",
                          "base2 params Renamed",
                          "base2 params changed Renamed",
                      }));
  EXPECT_EQ(GetString(*base1, BA_GET_NAME, kItemName), u"Renamed");
  EXPECT_EQ(GetString(*base1, BA_GET_SHORT_NAME, kItemShortName), u"EN");

  // After one base goes, the other still hears of changes.
  Close(*set2, base2->Remote());
  EXPECT_EQ(Table().ParamsHandlers().size(), 1u);
  Events().clear();
  SetString(*base1, BA_SET_DESCRIPTION, kItemDescription, u"Fruit");
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"base1 params Renamed", "base1 params changed Renamed"}));
}

TEST_F(BaseTest, AnEditBracketWritesOnceWithEveryValue) {
  TClient set = NewSet();
  TClient base = Link(Open(*set, "en-ru.dic"), "base");
  base->Send(BA_BEGIN_PARAMS);
  SetString(*base, BA_SET_NAME, kItemName, u"New name");
  base->Send(BA_BEGIN_PARAMS);  // nested: keeps the values set so far
  SetString(*base, BA_SET_DESCRIPTION, kItemDescription, u"New description");
  base->Send(BA_END_PARAMS);
  EXPECT_EQ(base->params_changed_count, 0);
  EXPECT_EQ(GetString(*base, BA_GET_NAME, kItemName), u"English") << "not written yet";
  base->Send(BA_END_PARAMS);
  EXPECT_EQ(base->params_changed_count, 1);
  EXPECT_EQ(GetString(*base, BA_GET_NAME, kItemName), u"New name");
  EXPECT_EQ(GetString(*base, BA_GET_SHORT_NAME, kItemShortName), u"EN");
  EXPECT_EQ(GetString(*base, BA_GET_DESCRIPTION, kItemDescription), u"New description");

  // An end without a begin does not leave later sets unwritten.
  base->Send(BA_END_PARAMS);
  SetString(*base, BA_SET_SHORT_NAME, kItemShortName, u"N");
  EXPECT_EQ(GetString(*base, BA_GET_SHORT_NAME, kItemShortName), u"N");
  EXPECT_EQ(base->params_changed_count, 2);
}

TEST_F(BaseTest, CursorsReadOnAfterARewriteAndAFailedRewriteKeepsTheTableOpen) {
  TClient set = NewSet();
  TClient base = Link(Open(*set, "en-ru.dic"), "base");
  TClient cursor = NewCursor(*set);
  Move(*cursor, CR_NEXT);
  SetString(*base, BA_SET_NAME, kItemName, u"Renamed");
  EXPECT_EQ(Trans(*cursor, base->Remote()), u"t:cherry");
  EXPECT_EQ(Move(*cursor, CR_PRIOR), 1);
  EXPECT_EQ(Narrow(cursor->word), "apple");

  // A name that cannot fit the parameters page is refused before the file
  // is touched, and the table reads on.
  EXPECT_NE(base->FailCode(
                BA_SET_NAME,
                [](TTransferMan& out) { out.WriteWideString(kItemName, WideString(20000, u'x')); }),
            0);
  EXPECT_TRUE(Table().IsOpen());
  EXPECT_EQ(GetString(*base, BA_GET_NAME, kItemName), u"Renamed");
  EXPECT_EQ(Move(*cursor, CR_NEXT), 1);
}

TEST_F(BaseTest, ClosingABaseDuringItsOwnNotificationIsSafe) {
  TClient set = NewSet();
  const win::HWND handle = Open(*set, "en-ru.dic");
  // The base's client closes the base when it hears of the change.
  TClient base = Link(handle, "base");
  bool closed = false;
  class TCloser : public TClientObject {
   public:
    using TClientObject::TClientObject;
    std::function<void()> on_params;
    static const TMessageTable& MessageTable() {
      static const TMessageTable table("TCloser", &TClientObject::MessageTable(),
                                       {{BA_PARAMS, &TCloser::Params}});
      return table;
    }
    const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
    void Params(TMessage&) {
      if (on_params) on_params();
    }
  };
  TOwnedPtr<TCloser> closer(new TCloser(handle, "closer"));
  closer->Connect();
  closer->on_params = [&] {
    if (closed) return;
    closed = true;
    Close(*set, handle);
  };
  closer->Send(BA_SET_NAME, [](TTransferMan& out) { out.WriteWideString(kItemName, u"Gone"); });
  EXPECT_TRUE(closed);
  EXPECT_EQ(base_man->BaseList().Count(), 0) << "the table went with its last base";
  EXPECT_TRUE(set->handles.empty());
  EXPECT_THROW(closer->Send(BA_GET_NAME), Exception);
  // The rename reached the file.
  TVocabTable check(nullptr);
  check.FileName = Path("EN-RU.dic");
  check.Open();
  EXPECT_EQ(check.GetName(), u"Gone");
}

TEST_F(BaseTest, AttachingKeepsOneReferenceAndOneHandlerPerBase) {
  TClient set = NewSet();
  Open(*set, "en-ru.dic");
  TCustomBaseSet& server_set = *static_cast<TCustomBaseSet*>(base_man->BaseSetList()[0]);
  TCustomBase& base = *server_set.Base(0);
  TVocabTable& table = Table();
  base.SetTable(&table);  // the table it has already
  EXPECT_EQ(table.RefCount(), 1);
  EXPECT_EQ(table.ParamsHandlers().size(), 1u);
  // A second base on the same table, detached and attached again.
  TOwnedPtr<TBase> extra(new TBase(&server_set));
  extra->SetTable(&table);
  extra->SetTable(nullptr);
  extra->SetTable(nullptr);
  extra->SetTable(&table);
  EXPECT_EQ(table.RefCount(), 2);
  EXPECT_EQ(table.ParamsHandlers().size(), 2u);
  extra.reset();
  EXPECT_EQ(table.RefCount(), 1);
  EXPECT_EQ(table.ParamsHandlers().size(), 1u);
  // The last base lets go: the table leaves the base manager's list.
  base.SetTable(nullptr);
  EXPECT_EQ(base_man->BaseList().Count(), 0);
}

TEST_F(BaseTest, ProgressAsksTheClientWhetherToStop) {
  TClient set = NewSet();
  TClient base = Link(Open(*set, "en-ru.dic"), "base");
  TCustomBaseSet& server_set = *static_cast<TCustomBaseSet*>(base_man->BaseSetList()[0]);
  TCustomBase& server = *server_set.Base(0);
  bool stop = true;
  server.Progress(1, 10, stop);
  EXPECT_FALSE(stop);
  base->stop = true;
  server.Progress(5, 10, stop);
  EXPECT_TRUE(stop);
  EXPECT_EQ(Events().back(), "base progress 5/10");
}

TEST_F(BaseTest, TheManagerHandsOutTheInstalledBaseManager) {
  InstallObjectModel();
  TOwnedPtr<TCustomManager> manager(new TManager(nullptr));
  SetBaseManFactory({});
  ASSERT_NE(manager->BaseMan(), nullptr);
  EXPECT_EQ(manager->BaseMan()->TypeName(), "TVocabMan");
  TClient to_manager = Unlinked(manager->Handle());
  const auto handle =
      static_cast<win::HWND>(to_manager->SendForInteger(QM_GETBASEMAN, kBaseManItem));
  EXPECT_EQ(handle, manager->BaseMan()->Handle());

  // A lookup from the manager down.
  TClient man = Unlinked(handle);
  TClient set = Link(static_cast<win::HWND>(man->SendForInteger(BM_NEW_BASE_SET, kItemHandle)),
                     "set", TClientObject::TKind::kBaseSet);
  const win::HWND base = Open(*set, "EN-RU.dic");
  TClient cursor = NewCursor(*set);
  EXPECT_EQ(Locate(*cursor, u"che"), 1);
  EXPECT_EQ(Trans(*cursor, base), u"t:cherry");
  manager.reset();
  EXPECT_NE(ReadLog().find("CustomBaseMan.Destroy: BaseSetList.Count<>0"), std::string::npos);
}

}  // namespace
}  // namespace vandrel::test
