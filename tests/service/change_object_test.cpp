// Change tracking: what a change object sends to its peer (QM_STATE,
// QM_CHANGE) and when its local handlers run, inside and outside update
// brackets. The peer is a linked object of the same thread, so every
// notification is a real exchange through the transfer buffers.
#include "service/change_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"
#include "service/errors.h"
#include "service/query_ids.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

std::vector<std::string> events;

// A change object that publishes one integer (its value) as its state.
class TCounter : public TChangeObject {
 public:
  using TChangeObject::TChangeObject;
  int value = 0;
  void Bump() {
    ++value;
    Changed();
  }
  void SendState() override {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, value);
    TChangeObject::SendState();
  }
  void OnLocalChange(TNotifyObject* sender) {
    events.push_back(sender == this ? "handler" : "handler from a stranger");
  }
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TCounter", &TChangeObject::MessageTable(), {});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

// The peer: records the notifications it receives; can be told to fail.
class TRecorder : public TLinkObject {
 public:
  using TLinkObject::TLinkObject;
  bool fail_change = false;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table(
        "TRecorder", &TLinkObject::MessageTable(),
        {{QM_STATE, &TRecorder::State}, {QM_CHANGE, &TRecorder::Change}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void State(TMessage&) { events.push_back("state " + std::to_string(Transfer().ReadInteger(1))); }
  void Change(TMessage&) {
    events.push_back("change");
    if (fail_change) throw ELocal("peer refuses", 150);
  }
};

class ChangeObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    win::SetMessageBoxHook(
        [this](win::HWND, const std::string&, const std::string&, win::UINT) { ++boxes_; });
    counter_.reset(new TCounter(nullptr));
    peer_.reset(new TRecorder(nullptr));
    counter_->SetRemote(peer_->Handle());
    AddEventHandler(counter_->ChangeHandlers(),
                    MakeNotifyEvent<&TCounter::OnLocalChange>(counter_.get()));
  }
  void TearDown() override { win::SetMessageBoxHook({}); }

  // Sends a request without items to the counter, as its client would.
  void Send(std::uint16_t id) {
    peer_->Transfer().ResetWrite();
    const win::LRESULT r =
        win::SendMessageA(counter_->Handle(), id, peer_->Handle(), peer_->Transfer().BufferId());
    peer_->Transfer().OpenRead(r, -id);
    ASSERT_EQ(peer_->Transfer().ReadAnswer(), 1);
  }

  test::ScopedRuntimeDir ns_;
  TOwnedPtr<TCounter> counter_;
  TOwnedPtr<TRecorder> peer_;
  int boxes_ = 0;
};

using Events = std::vector<std::string>;

TEST_F(ChangeObjectTest, ChangeOutsideABracketIsDeliveredAtOnceHandlersFirst) {
  counter_->Bump();
  EXPECT_EQ(events, (Events{"state 1", "handler", "change"}));
  // Delivery does not clear the pending flag.
  EXPECT_TRUE(counter_->PendingChange());
}

TEST_F(ChangeObjectTest, ChangesInsideABracketAreDeliveredOnceAtTheEnd) {
  Send(QM_BEGINUPDATE);
  counter_->Bump();
  counter_->Bump();
  counter_->Bump();
  EXPECT_EQ(events, (Events{"state 1", "state 2", "state 3"}));
  Send(QM_ENDUPDATE);
  EXPECT_EQ(events, (Events{"state 1", "state 2", "state 3", "handler", "change"}));
  EXPECT_EQ(counter_->UpdateCount(), 0);
}

TEST_F(ChangeObjectTest, NestedBracketsDeliverOnlyAtTheOutermostEnd) {
  counter_->BeginUpdate();
  counter_->BeginUpdate();
  counter_->Bump();
  counter_->EndUpdate();
  EXPECT_EQ(events, (Events{"state 1"}));
  counter_->EndUpdate();
  EXPECT_EQ(events, (Events{"state 1", "handler", "change"}));
}

TEST_F(ChangeObjectTest, ANestedBeginOrAClearDropsThePendingChange) {
  counter_->BeginUpdate();
  counter_->Bump();
  counter_->BeginUpdate();  // drops the change made so far
  counter_->EndUpdate();
  counter_->EndUpdate();
  EXPECT_EQ(events, (Events{"state 1"}));

  events.clear();
  counter_->BeginUpdate();
  counter_->Bump();
  Send(QM_CLEARCHANGE);
  EXPECT_FALSE(counter_->PendingChange());
  counter_->EndUpdate();
  EXPECT_EQ(events, (Events{"state 2"}));

  // A change after the nested begin is delivered again.
  events.clear();
  counter_->BeginUpdate();
  counter_->Bump();
  counter_->BeginUpdate();
  counter_->Bump();
  counter_->EndUpdate();
  counter_->EndUpdate();
  EXPECT_EQ(events, (Events{"state 3", "state 4", "handler", "change"}));
}

TEST_F(ChangeObjectTest, AnUnmatchedEndKeepsChangesFromBeingDelivered) {
  Send(QM_ENDUPDATE);
  EXPECT_EQ(counter_->UpdateCount(), -1);
  counter_->Bump();
  EXPECT_EQ(events, (Events{"state 1"}));
  counter_->BeginUpdate();  // back to 0 by a begin: delivers nothing either
  EXPECT_EQ(counter_->UpdateCount(), 0);
  EXPECT_EQ(events, (Events{"state 1"}));
}

TEST_F(ChangeObjectTest, WithoutAPeerOnlyTheLocalHandlersRun) {
  counter_->SetRemote(0);
  counter_->Bump();
  EXPECT_EQ(events, (Events{"handler"}));
}

TEST_F(ChangeObjectTest, APeerThatFailsTheChangeRaisesASilentError) {
  peer_->fail_change = true;
  try {
    counter_->Bump();
    FAIL() << "expected ERemote";
  } catch (const ERemote& e) {
    EXPECT_EQ(e.HelpContext(), 150);
    EXPECT_STREQ(e.what(), "peer refuses");
  }
  EXPECT_EQ(events, (Events{"state 1", "handler", "change"}));
  // The peer showed its own failure; ERemote is never shown.
  EXPECT_EQ(boxes_, 1);
}

TEST_F(ChangeObjectTest, AChangeInsideARequestReachesThePeerBeforeTheAnswer) {
  // A bracket driven entirely by requests: begin, end; the delivery happens
  // inside the QM_ENDUPDATE exchange and the request is still answered 1.
  Send(QM_BEGINUPDATE);
  counter_->Bump();
  events.clear();
  Send(QM_ENDUPDATE);
  EXPECT_EQ(events, (Events{"handler", "change"}));
}

}  // namespace
}  // namespace vandrel
