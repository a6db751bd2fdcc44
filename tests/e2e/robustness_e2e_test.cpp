// The service keeps serving when something goes wrong: a damaged
// translation is answered with its error (223) and the next requests work,
// and a client process killed between two requests leaves the others
// undisturbed, also when a change is sent to the dead client's objects.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/service_error.h"
#include "dictionary/dic_format.h"
#include "dictionary/dic_table.h"
#include "model/model_ids.h"
#include "platform/exceptions.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {
namespace {

using client::EServiceError;
using client::TCursorClient;

class RobustnessE2eTest : public E2eTest {
 protected:
  void SetUp() override { Compile("A.dic", Tagged(u"A", {u"apple", u"cherry"})); }
  static void PeerOpen(client::TRemoteObject& peer, const char16_t* name) {
    peer.BeginRequest().WriteWideString(kItemFileName, name);
    peer.Request(e2epeer::PQ_OPEN);
  }
  static WideString PeerLocate(client::TRemoteObject& peer, const char16_t* text) {
    peer.BeginRequest().WriteWideString(kItemWord, text);
    peer.Request(e2epeer::PQ_LOCATE);
    peer.Answer().ReadInteger(kItemResult);
    peer.Answer().ReadWideString(kItemWord);
    return peer.Answer().ReadWideString(kItemTrans);
  }
};

// A compressed dictionary whose first stored body is damaged: the file
// opens, its words read, and the first translation fails to decode.
void CompileDamaged(const std::string& path) {
  TVocabCompiler compiler;
  compiler.SetLanguage(kEnglish);
  compiler.SetTransLanguage(kRussian);
  compiler.SetCompressed(true);
  compiler.BeginCompile(path);
  WideString long_text;
  for (int i = 0; i < 200; ++i) long_text += u"a long translation that compresses well; ";
  compiler.AddWord(u"broken", long_text);
  compiler.AddWord(u"whole", u"still readable");
  compiler.EndCompile();

  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), dic::kBodyStartAt + 4);
  std::uint32_t body = 0;
  for (int i = 3; i >= 0; --i)
    body = body << 8 | static_cast<std::uint8_t>(bytes[dic::kBodyStartAt + i]);
  ASSERT_LT(body, bytes.size());
  // The long body is stored compressed: byte 0, then the codec number.
  ASSERT_EQ(bytes[body], 0);
  bytes[body + 1] = static_cast<char>(0xEE);  // a codec that does not exist
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  // The damage is where it should be: seen only when the body is read.
  TDicTable table;
  table.FileName = path;
  table.Open();
  ASSERT_TRUE(table.FindExact(u"broken"));
  EXPECT_THROW(table.GetTrans(), Exception);
  ASSERT_TRUE(table.FindExact(u"whole"));
  EXPECT_EQ(table.GetTrans(), u"still readable");
}

TEST_F(RobustnessE2eTest, ADamagedTranslationIsAnsweredWithItsErrorAndServingGoesOn) {
  CompileDamaged(DicPath("Bad.dic"));
  auto set = NewSet();
  client::TBaseClient& bad = set->OpenBase(u"Bad.dic");
  bad.SetShortName(u"Bad");
  TCursorClient& cursor = set->NewCursor();
  ASSERT_EQ(cursor.State().Word, u"broken");
  try {
    cursor.GetTrans(bad.Remote());
    FAIL() << "a damaged body decoded";
  } catch (const EServiceError& e) {
    EXPECT_EQ(e.Code(), kErrBodyFormat);
    EXPECT_EQ(e.Text().rfind("Base \"Bad\", title \"broken\". Error in stored body format.\r\n", 0),
              0u)
        << e.Text();
  }
  // The cursor's state is unchanged, and it steps on.
  EXPECT_EQ(cursor.State().Word, u"broken");
  EXPECT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.GetTrans(bad.Remote()), u"still readable");

  // Another client process is served as before.
  auto peer = StartPeer("e2e-peer-after-damage");
  PeerOpen(*peer, u"A.dic");
  EXPECT_EQ(PeerLocate(*peer, u"cher"), u"cherry in A");
  PeerOpen(*peer, u"Bad.dic");
  EXPECT_THROW(PeerLocate(*peer, u"broken"), EServiceError);
  EXPECT_EQ(PeerLocate(*peer, u"apple"), u"apple in A");
  peer->Call(e2epeer::PQ_QUIT);
}

TEST_F(RobustnessE2eTest, AClientKilledBetweenTwoRequestsLeavesTheServiceServingOthers) {
  auto set = NewSet();
  client::TBaseClient& base = set->OpenBase(u"A.dic");
  TCursorClient& cursor = set->NewCursor();

  win::DWORD pid = 0;
  auto peer = StartPeer("e2e-peer-killed", &pid);
  PeerOpen(*peer, u"A.dic");
  EXPECT_EQ(PeerLocate(*peer, u"cherry"), u"cherry in A");
  ASSERT_TRUE(win::KillProcess(pid, true));
  int code = 0;
  ASSERT_TRUE(WaitChild(pid, kBoundMs, &code));
  EXPECT_NE(code, 0);

  // Lookups go on.
  EXPECT_TRUE(cursor.Locate(u"ch"));
  EXPECT_EQ(cursor.GetTrans(base.Remote()), u"cherry in A");
  // A parameter change is sent to the dead client's base too; this
  // client's request still succeeds and its own base hears of it.
  base.SetName(u"After the kill");
  EXPECT_EQ(base.Params().Name, u"After the kill");
  EXPECT_EQ(base.GetName(), u"After the kill");

  // New clients are served.
  auto next = StartPeer("e2e-peer-next");
  PeerOpen(*next, u"a.dic");
  EXPECT_EQ(PeerLocate(*next, u"apple"), u"apple in A");
  next->Call(e2epeer::PQ_QUIT);
  EXPECT_TRUE(cursor.First());
  EXPECT_EQ(cursor.State().Word, u"apple");
}

}  // namespace
}  // namespace vandrel::test
