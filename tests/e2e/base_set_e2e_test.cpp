// Base sets and bases through the real service: the dictionary folder's
// files (listing, creating, deleting, names that would leave the folder),
// one table shared by the bases of several sets and client processes, and
// parameter changes reaching the client of every base on the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/service_error.h"
#include "model/model_ids.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TBaseClient;
using client::TCursorClient;
using e2epeer::PQ_LOCATE;
using e2epeer::PQ_OPEN;
using e2epeer::PQ_PARAMS;
using e2epeer::PQ_QUIT;
using e2epeer::PQ_SET_NAME;

class BaseSetE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"}));
    Compile("B.dic", Tagged(u"B", {u"banana", u"cherry"}));
  }
  template <class F>
  static EServiceError Refusal(F&& action) {
    try {
      action();
    } catch (const EServiceError& e) {
      return e;
    }
    ADD_FAILURE() << "no error answer";
    return EServiceError(0, "");
  }
  static void PeerOpen(client::TRemoteObject& peer, const char16_t* name) {
    peer.BeginRequest().WriteWideString(kItemFileName, name);
    peer.Request(PQ_OPEN);
  }
  struct TPeerParams {
    int params = 0;
    int changed = 0;
    WideString name;
  };
  static TPeerParams PeerParams(client::TRemoteObject& peer) {
    peer.Call(PQ_PARAMS);
    TPeerParams p;
    p.params = peer.Answer().ReadInteger(1);
    p.changed = peer.Answer().ReadInteger(2);
    p.name = peer.Answer().ReadWideString(kItemName);
    return p;
  }
};

TEST_F(BaseSetE2eTest, ListsOnlyDictionaryFilesAndOpensThemInAnyLetterCase) {
  std::ofstream(DicPath("notes.txt")) << "not a dictionary";
  std::filesystem::create_directory(DicPath("Folder.dic"));
  std::filesystem::copy_file(DicPath("B.dic"), DicPath("UPPER.DIC"));
  auto set = NewSet();
  std::vector<WideString> files = set->ListFiles();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<WideString>{u"A.dic", u"B.dic", u"UPPER.DIC"}));

  TBaseClient& a = set->OpenBase(u"a.DIC");
  EXPECT_EQ(a.GetFileName(), u"A.dic");
  EXPECT_EQ(Refusal([&] { set->OpenBase(u"A.dic"); }).Code(), kErrBaseAlreadyOpened);
  EXPECT_EQ(Refusal([&] { set->OpenBase(u"a.dic"); }).Text(), "Base already opened");
  // Another set may hold the same file.
  auto other = NewSet();
  EXPECT_EQ(other->OpenBase(u"A.dic").GetFileName(), u"A.dic");
  EXPECT_EQ(set->Bases().size(), 1u);
}

TEST_F(BaseSetE2eTest, NamesThatLeaveTheFolderAreRefusedBeforeAnyFileIsTouched) {
  ScratchDir outside("vandrel-e2e-outside");
  std::filesystem::copy_file(DicPath("A.dic"), outside.path() + "/victim.dic");
  const std::string rel = "../" + std::filesystem::path(outside.path()).filename().string();
  const std::u16string victim(rel.begin(), rel.end());
  auto set = NewSet();

  for (const std::u16string& name : {victim + u"/victim.dic", std::u16string(u"../A.dic"),
                                     std::u16string(u"./A.dic"), std::u16string(u"..")}) {
    EXPECT_EQ(Refusal([&] { set->OpenBase(name); }).Code(), kErrBaseNotExists);
  }
  const EServiceError del = Refusal([&] { set->DeleteBaseFile(victim + u"/victim.dic"); });
  EXPECT_NE(del.Text().find("Code: 123."), std::string::npos) << del.Text();
  const EServiceError create =
      Refusal([&] { set->CreateBaseFile(victim + u"/new.dic", 1033, 1049, false, false); });
  EXPECT_NE(create.Text().find("Code: 123."), std::string::npos) << create.Text();
  EXPECT_TRUE(std::filesystem::exists(outside.path() + "/victim.dic"));
  EXPECT_FALSE(std::filesystem::exists(outside.path() + "/new.dic"));
  EXPECT_TRUE(set->BaseWindows().empty());
}

TEST_F(BaseSetE2eTest, CreatesAndDeletesFilesButNotOneThatIsOpen) {
  auto set = NewSet();
  set->CreateBaseFile(u"New.dic", 1033, 1049, false, true);
  std::vector<WideString> files = set->ListFiles();
  EXPECT_NE(std::find(files.begin(), files.end(), u"New.dic"), files.end());

  TBaseClient& base = set->OpenBase(u"New.dic");
  // The parameters arrived when the client linked, and the requests agree.
  const client::TBaseParams& p = base.Params();
  EXPECT_EQ(base.ParamsCount(), 1);
  EXPECT_EQ(p.RecordCount, 0);
  EXPECT_EQ(p.Language, 1033);
  EXPECT_EQ(p.TransLanguage, 1049);
  EXPECT_TRUE(p.Compressed);
  EXPECT_FALSE(p.Scrambled);
  EXPECT_EQ(base.GetLanguage(), 1033);
  EXPECT_EQ(base.GetTransLanguage(), 1049);
  EXPECT_EQ(base.GetVersion(), p.Version);
  EXPECT_EQ(base.GetCreateTime(), p.CreateTime);
  EXPECT_GT(p.CreateTime, 40000.0);  // a date after 2009

  const EServiceError in_use = Refusal([&] { set->DeleteBaseFile(u"new.dic"); });
  EXPECT_EQ(in_use.Code(), kErrBaseInUse);
  EXPECT_EQ(in_use.Text(), "Base \"new.dic\" now in use");
  EXPECT_TRUE(std::filesystem::exists(DicPath("New.dic")));

  set->CloseBase(base);
  set->DeleteBaseFile(u"new.dic");
  EXPECT_FALSE(std::filesystem::exists(DicPath("New.dic")));
  // A file that is not there: the platform's error, code 1.
  EXPECT_EQ(Refusal([&] { set->DeleteBaseFile(u"New.dic"); }).Code(), 1);
  EXPECT_EQ(Refusal([&] { set->OpenBase(u"New.dic"); }).Code(), kErrBaseNotExists);
}

TEST_F(BaseSetE2eTest, AParameterChangeReachesTheClientOfEveryBaseOnTheFile) {
  auto one = NewSet();
  auto two = NewSet();
  TBaseClient& first = one->OpenBase(u"A.dic");
  TBaseClient& second = two->OpenBase(u"a.dic");
  TBaseClient& unrelated = two->OpenBase(u"B.dic");
  auto peer = StartPeer("e2e-peer-params");
  PeerOpen(*peer, u"A.dic");
  ASSERT_EQ(PeerParams(*peer).params, 1);
  std::vector<std::string> order;
  second.OnParams = [&](const client::TBaseParams&) { order.push_back("params"); };
  second.OnParamsChanged = [&] { order.push_back("changed"); };

  first.SetName(u"Apples");
  for (TBaseClient* b : {&first, &second}) {
    EXPECT_EQ(b->Params().Name, u"Apples");
    EXPECT_EQ(b->ParamsCount(), 2);
    EXPECT_EQ(b->ParamsChangedCount(), 1);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"params", "changed"}));
  TPeerParams p = PeerParams(*peer);
  EXPECT_EQ(p.name, u"Apples");
  EXPECT_EQ(p.params, 2);
  EXPECT_EQ(p.changed, 1);
  EXPECT_EQ(unrelated.ParamsCount(), 1);
  EXPECT_EQ(second.GetName(), u"Apples");

  // An edit bracket rewrites the file once, with the old short name kept.
  const WideString short_name = first.GetShortName();
  first.BeginParams();
  first.SetName(u"Fruit");
  first.BeginParams();
  first.SetDescription(u"Apples and cherries");
  first.EndParams();
  EXPECT_EQ(second.ParamsCount(), 2);
  first.EndParams();
  EXPECT_EQ(second.ParamsCount(), 3);
  EXPECT_EQ(second.Params().Name, u"Fruit");
  EXPECT_EQ(second.Params().Description, u"Apples and cherries");
  EXPECT_EQ(second.Params().ShortName, short_name);

  // The change came from another process: it reaches this one's bases.
  peer->BeginRequest().WriteWideString(kItemName, u"Peer's name");
  peer->Request(PQ_SET_NAME);
  EXPECT_EQ(first.Params().Name, u"Peer's name");
  EXPECT_EQ(second.Params().Name, u"Peer's name");

  // A closed base hears nothing more; the others still do.
  two->CloseBase(second);
  first.SetName(u"Last");
  EXPECT_EQ(PeerParams(*peer).name, u"Last");
  EXPECT_EQ(first.GetName(), u"Last");
  peer->Call(PQ_QUIT);
}

TEST_F(BaseSetE2eTest, TwoClientProcessesShareOneTableWithoutMovingEachOther) {
  auto set = NewSet();
  const win::HWND a = set->OpenBase(u"A.dic").Remote();
  TCursorClient& cursor = set->NewCursor();
  ASSERT_TRUE(cursor.Locate(u"cherry"));

  auto peer = StartPeer("e2e-peer-share");
  PeerOpen(*peer, u"a.dic");
  peer->BeginRequest().WriteWideString(kItemWord, u"app");
  peer->Request(PQ_LOCATE);
  EXPECT_EQ(peer->Answer().ReadInteger(kItemResult), 1);
  EXPECT_EQ(peer->Answer().ReadWideString(kItemWord), u"apple");
  EXPECT_EQ(peer->Answer().ReadWideString(kItemTrans), u"apple in A");

  // The peer's cursor moved the shared table; this cursor reads its own
  // word all the same and steps from it.
  EXPECT_EQ(cursor.GetTrans(a), u"cherry in A");
  EXPECT_TRUE(cursor.Prior());
  EXPECT_EQ(cursor.State().Word, u"apple");
  EXPECT_EQ(cursor.GetTrans(a), u"apple in A");

  // A name set here is the peer's too: one file, one table.
  set->Bases().front()->SetName(u"Shared");
  BaseSetE2eTest::TPeerParams p = PeerParams(*peer);
  EXPECT_EQ(p.name, u"Shared");
  peer->Call(PQ_QUIT);
}

}  // namespace
}  // namespace vandrel::test
