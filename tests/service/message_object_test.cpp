// Message objects in one process: handler tables and inherited handlers,
// the object-window registry, and freeing an object inside its own
// dispatch.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/window.h"
#include "service/handle_object.h"
#include "service/notify.h"
#include "service/object_window.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

constexpr std::uint16_t kFirst = 0x0401;
constexpr std::uint16_t kSecond = 0x0402;
constexpr std::uint16_t kThird = 0x0403;

std::vector<std::string>& Trace() {
  static std::vector<std::string> trace;
  return trace;
}

// A: two handlers; B extends one and adds one whose ancestors have none;
// C declares no handlers of its own.
class TA : public TNotifyObject {
 public:
  using TNotifyObject::TNotifyObject;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TA", &TNotifyObject::MessageTable(),
                                     {{kSecond, &TA::Second}, {kFirst, &TA::First}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
  void DefaultHandler(TMessage& message) override {
    Trace().push_back("default " + std::to_string(message.Msg));
    message.Result = -1;
  }

 protected:
  void First(TMessage& message) {
    Trace().push_back("A.first");
    message.Result += 1;
  }
  void Second(TMessage& message) {
    Trace().push_back("A.second");
    message.Result = 2;
  }
};

class TB : public TA {
 public:
  using TA::TA;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TB", &TA::MessageTable(),
                                     {{kFirst, &TB::First}, {kThird, &TB::Third}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  void First(TMessage& message) {
    Inherited<TB>(message);
    Trace().push_back("B.first");
    message.Result += 10;
  }
  void Third(TMessage& message) {
    Trace().push_back("B.third");
    Inherited<TB>(message);
  }
};

class TC : public TB {
 public:
  using TB::TB;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TC", &TB::MessageTable(), {});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class MessageObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { Trace().clear(); }
  test::ScopedRuntimeDir runtime_;
};

TEST_F(MessageObjectTest, DispatchFindsTheNearestHandlerAndInheritedExtendsIt) {
  TC c(nullptr);
  ASSERT_NE(c.Handle(), 0u);
  EXPECT_EQ(c.TypeName(), "TC");
  // Through the window, as every message arrives.
  EXPECT_EQ(win::SendMessageA(c.Handle(), kFirst, 0, 0), 11);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"A.first", "B.first"}));
  Trace().clear();
  EXPECT_EQ(win::SendMessageA(c.Handle(), kSecond, 0, 0), 2);
  // The inherited handler of an identifier no ancestor handles is the
  // default handler.
  EXPECT_EQ(win::SendMessageA(c.Handle(), kThird, 0, 0), -1);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"A.second", "B.third", "default 1027"}));
  // Only the low 16 bits select the handler.
  Trace().clear();
  EXPECT_EQ(win::SendMessageA(c.Handle(), 0x50000 | kSecond, 0, 0), 2);
  // Identifier 0 and the range from 0xC000 never reach a handler.
  EXPECT_EQ(win::SendMessageA(c.Handle(), 0, 0, 0), -1);
  EXPECT_EQ(win::SendMessageA(c.Handle(), 0xC000 | kFirst, 0, 0), -1);
  EXPECT_EQ(win::SendMessageA(c.Handle(), 0x1C000, 0, 0), -1);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"A.second", "default 0",
                                               "default " + std::to_string(0xC000 | kFirst),
                                               "default " + std::to_string(0x1C000)}));
  // The ancestor itself does not see the descendant's handlers.
  TA a(nullptr);
  EXPECT_EQ(win::SendMessageA(a.Handle(), kFirst, 0, 0), 1);
  EXPECT_EQ(win::SendMessageA(a.Handle(), kThird, 0, 0), -1);
  EXPECT_EQ(a.TypeName(), "TA");
}

TEST_F(MessageObjectTest, PlainObjectAnswersWithTheDefaultWindowProcedure) {
  THandleObject plain;
  EXPECT_EQ(win::SendMessageA(plain.Handle(), kFirst, 1, 2), 0);
  EXPECT_EQ(ObjectWindowProc(0x7FFFFFF0u, kFirst, 1, 2), 0) << "unknown window";
}

TEST_F(MessageObjectTest, TablesRefuseIdentifiersThatCanNeverBeDispatched) {
  struct THandler : THandleObject {
    void H(TMessage&) {}
  };
  EXPECT_THROW(TMessageTable("X", nullptr, {{5, &THandler::H}, {5, &THandler::H}}),
               std::logic_error);
  EXPECT_THROW(TMessageTable("X", nullptr, {{0, &THandler::H}}), std::logic_error);
  EXPECT_THROW(TMessageTable("X", nullptr, {{0xC000, &THandler::H}}), std::logic_error);
  EXPECT_NO_THROW(TMessageTable("X", nullptr, {{0xBFFF, &THandler::H}}));
}

TEST_F(MessageObjectTest, RegistryReusesEntriesAndNamesWindowsOnlyWhileTheNameIsSet) {
  const int before = ObjectWindowCount();
  THandleObject one;
  // The same object and method give the same window.
  EXPECT_EQ(AllocateObjectWindow({&one, &THandleObject::WndProc}), one.Handle());
  EXPECT_EQ(AllocateObjectWindow({&one, nullptr}), 0u);
  EXPECT_EQ(ObjectWindowCount(), before + 1);
  {
    ObjectWindowName() = "registry-test-window";
    TA named(nullptr);
    ObjectWindowName().clear();
    EXPECT_EQ(win::FindWindowA("STATIC", "registry-test-window"), named.Handle());
    // A second window of that name cannot exist.
    ObjectWindowName() = "registry-test-window";
    TA clash(nullptr);
    ObjectWindowName().clear();
    EXPECT_EQ(clash.Handle(), 0u);
    EXPECT_EQ(ObjectWindowCount(), before + 2) << "a failed creation leaves no entry";
    TA unnamed(nullptr);
    EXPECT_NE(unnamed.Handle(), 0u);
  }
  EXPECT_EQ(ObjectWindowCount(), before + 1);
  {
    TA again(nullptr);
    EXPECT_EQ(ObjectWindowCount(), before + 2);
  }
  const win::HWND gone = [] {
    THandleObject temporary;
    return temporary.Handle();
  }();
  EXPECT_FALSE(win::IsWindow(gone));
  DeallocateObjectWindow(gone);  // unknown now: nothing happens
  EXPECT_EQ(ObjectWindowCount(), before + 1);
}

// Counts destructions; handlers free the object in the ways that real
// objects do.
int destroyed = 0;
class TMortal : public THandleObject {
 public:
  ~TMortal() override { ++destroyed; }
  static constexpr std::uint16_t kFreeSelf = 0x0501;
  static constexpr std::uint16_t kNested = 0x0502;
  static constexpr std::uint16_t kDeleteSelf = 0x0503;
  static constexpr std::uint16_t kRaise = 0x0504;
  static constexpr std::uint16_t kAbort = 0x0505;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TMortal", &THandleObject::MessageTable(),
                                     {{kFreeSelf, &TMortal::FreeSelf},
                                      {kNested, &TMortal::Nested},
                                      {kDeleteSelf, &TMortal::DeleteSelf},
                                      {kRaise, &TMortal::Raise},
                                      {kAbort, &TMortal::Abort}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
  int seen_alive_after_free = 0;

 private:
  void FreeSelf(TMessage& message) {
    Free();
    // Still valid: the delete waits until this dispatch has returned.
    seen_alive_after_free += destroyed == 0 && FreePending();
    message.Result = 100 + seen_alive_after_free;
  }
  void Nested(TMessage& message) {
    const win::LRESULT inner = win::SendMessageA(Handle(), kFreeSelf, 0, 0);
    message.Result = inner + (destroyed == 0 ? 1000 : 0) + (FreePending() ? 10000 : 0);
  }
  void DeleteSelf(TMessage& message) {
    message.Result = 7;
    delete this;  // bypasses Free: the scope must not touch the object again
  }
  void Raise(TMessage& message) {
    message.Result = 3;
    throw Exception("raised in a handler");
  }
  void Abort(TMessage&) { throw EAbort("quiet"); }
};

TEST_F(MessageObjectTest, ObjectFreedInsideItsDispatchLivesUntilTheOutermostReturns) {
  destroyed = 0;
  auto* mortal = new TMortal;
  win::HWND h = mortal->Handle();
  EXPECT_EQ(win::SendMessageA(h, TMortal::kFreeSelf, 0, 0), 101);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(win::IsWindow(h));

  // Freed in a nested message: alive for the rest of the outer handler.
  destroyed = 0;
  mortal = new TMortal;
  h = mortal->Handle();
  EXPECT_EQ(win::SendMessageA(h, TMortal::kNested, 0, 0), 101 + 1000 + 10000);
  EXPECT_EQ(destroyed, 1);

  // Outside any dispatch Free deletes at once.
  destroyed = 0;
  (new TMortal)->Free();
  EXPECT_EQ(destroyed, 1);

  // A plain delete inside the handler is survived by the window procedure.
  destroyed = 0;
  mortal = new TMortal;
  EXPECT_EQ(win::SendMessageA(mortal->Handle(), TMortal::kDeleteSelf, 0, 0), 7);
  EXPECT_EQ(destroyed, 1);
}

TEST_F(MessageObjectTest, OwnedChildFreedByItsParentDuringItsOwnHandlerStaysValid) {
  destroyed = 0;
  struct TParent : THandleObject {
    TOwnedPtr<TMortal> child{new TMortal};
  } parent;
  const win::HWND child = parent.child->Handle();
  {
    // The child is inside dispatch (as when its handler waits for a peer)
    // while its parent drops it.
    THandleObject::TDispatchScope scope(parent.child.get());
    TMortal* raw = parent.child.get();
    parent.child.reset();
    EXPECT_EQ(destroyed, 0);
    EXPECT_TRUE(raw->FreePending());
    EXPECT_TRUE(win::IsWindow(child));
  }
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(win::IsWindow(child));
}

TEST_F(MessageObjectTest, ExceptionsEscapingAHandlerAreShownNotPropagated) {
  int boxes = 0;
  std::string text;
  win::SetMessageBoxHook(
      [&](win::HWND, const std::string& t, const std::string& caption, win::UINT) {
        ++boxes;
        text = caption + ": " + t;
      });
  TMortal mortal;
  EXPECT_EQ(win::SendMessageA(mortal.Handle(), TMortal::kRaise, 0, 0), 3);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(text, "Vandrel: raised in a handler");
  EXPECT_EQ(win::SendMessageA(mortal.Handle(), TMortal::kAbort, 0, 0), 0);
  EXPECT_EQ(boxes, 1) << "an abort is silent";
  win::SetMessageBoxHook({});
}

}  // namespace
}  // namespace vandrel
