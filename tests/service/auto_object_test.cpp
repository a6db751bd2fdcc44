// Reference counting by connect and disconnect: the last disconnect frees
// the object inside its own handler, and its caller still reads a proper
// answer.
#include "service/auto_object.h"

#include <gtest/gtest.h>

#include "platform/window.h"
#include "service/errors.h"
#include "service/object_window.h"
#include "service/query_ids.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

int destroyed = 0;

class TCounted : public TAutoObject {
 public:
  using TAutoObject::TAutoObject;
  ~TCounted() override { ++destroyed; }
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TCounted", &TAutoObject::MessageTable(), {});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class AutoObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { destroyed = 0; }

  // A request without items from client to target; returns the answer code.
  static int Send(TLinkObject& client, win::HWND target, std::uint16_t id) {
    client.Transfer().ResetWrite();
    const win::LRESULT r =
        win::SendMessageA(target, id, client.Handle(), client.Transfer().BufferId());
    client.Transfer().OpenRead(r, -id);
    return client.Transfer().ReadAnswer();
  }

  test::ScopedRuntimeDir ns_;
};

TEST_F(AutoObjectTest, TheSecondOfTwoDisconnectsFreesTheObjectAndIsAnswered) {
  TLinkObject a(nullptr), b(nullptr);
  auto* object = new TCounted(nullptr);
  const win::HWND window = object->Handle();
  EXPECT_EQ(Send(a, window, QM_CONNECT), 1);
  EXPECT_EQ(Send(b, window, QM_CONNECT), 1);
  EXPECT_EQ(object->RefCount(), 2);
  EXPECT_EQ(object->Remote(), b.Handle());  // the latest connect links

  EXPECT_EQ(Send(a, window, QM_DISCONNECT), 1);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(object->RefCount(), 1);
  EXPECT_TRUE(win::IsWindow(window));

  EXPECT_EQ(Send(b, window, QM_DISCONNECT), 1);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(win::IsWindow(window));
  // A request to the gone object now finds no window.
  EXPECT_THROW(Send(a, window, QM_CONNECT), ELocal);
}

TEST_F(AutoObjectTest, AnObjectThatWasNeverConnectedBelongsToItsCreator) {
  const int windows = ObjectWindowCount();
  auto* object = new TCounted(nullptr);
  TLinkObject client(nullptr);
  // A stray disconnect takes the count below zero and frees nothing.
  EXPECT_EQ(Send(client, object->Handle(), QM_DISCONNECT), 1);
  EXPECT_EQ(object->RefCount(), -1);
  EXPECT_EQ(destroyed, 0);
  object->Free();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(ObjectWindowCount(), windows + 1);  // only the client's window is left
}

// A TAutoObject that disconnects itself from inside one of its own
// requests: the release happens two dispatches deep, and the object must
// stay valid until the outer one has set its result.
class TSelfReleasing : public TCounted {
 public:
  using TCounted::TCounted;
  static constexpr std::uint16_t RQ_LEAVE = 0x3100;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TSelfReleasing", &TCounted::MessageTable(),
                                     {{RQ_LEAVE, &TSelfReleasing::Leave}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Leave(TMessage& message) {
    win::SendMessageA(Handle(), QM_DISCONNECT, static_cast<win::WPARAM>(message.WParam),
                      Transfer().BufferId());
    // Still alive here: the delete waits for the outermost dispatch.
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, RefCount());
  }
};

TEST_F(AutoObjectTest, ReleaseInsideANestedDispatchWaitsForTheOuterOne) {
  TLinkObject client(nullptr);
  auto* object = new TSelfReleasing(nullptr);
  const win::HWND window = object->Handle();
  ASSERT_EQ(Send(client, window, QM_CONNECT), 1);
  ASSERT_EQ(Send(client, window, TSelfReleasing::RQ_LEAVE), 1);
  EXPECT_EQ(client.Transfer().ReadInteger(1), 0);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(win::IsWindow(window));
}

}  // namespace
}  // namespace vandrel
