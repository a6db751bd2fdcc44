// Notification lists: membership mirrored in each member, the order of the
// callbacks when a member or a list goes away.
#include "service/notify.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace vandrel {
namespace {

class NotifyTest : public ::testing::Test {
 protected:
  // Gives list a name and records every callback as "<event> <list>".
  void Watch(TNotifyList& list, const std::string& name) {
    list.OnInsert = [this, name](TNotifyList*, TNotifyObject*) {
      log_.push_back("insert " + name);
    };
    list.OnItemFree = [this, name](TNotifyList* l, TNotifyObject* item) {
      // Still a member while its free callback runs.
      log_.push_back("free " + name + (l->IndexOf(item) >= 0 ? "" : " (not a member)"));
    };
    list.OnRemove = [this, name](TNotifyList*, TNotifyObject*) {
      log_.push_back("remove " + name);
    };
  }
  test::ScopedRuntimeDir runtime_;
  std::vector<std::string> log_;
};

TEST_F(NotifyTest, DestroyedObjectLeavesEveryListMostRecentFirst) {
  TNotifyObject owner(nullptr);
  TNotifyList a, b, c;
  Watch(a, "a");
  Watch(b, "b");
  Watch(c, "c");
  auto item = std::make_unique<TNotifyObject>(&owner);
  EXPECT_EQ(item->Owner(), &owner);
  TNotifyObject other(&owner);
  a.Add(&other);
  a.Add(item.get());
  b.Add(item.get());
  c.Add(item.get());
  EXPECT_EQ(item->NotifyLists(), (std::vector<TNotifyList*>{&a, &b, &c}));
  log_.clear();
  item.reset();
  EXPECT_EQ(log_, (std::vector<std::string>{"free c", "remove c", "free b", "remove b", "free a",
                                            "remove a"}));
  EXPECT_EQ(a.List(), std::vector<TNotifyObject*>{&other});
  EXPECT_EQ(b.Count(), 0);
  EXPECT_EQ(c.Count(), 0);
}

TEST_F(NotifyTest, ObjectAddedTwiceIsRecordedTwiceAndLeavesBothEntries) {
  TNotifyList list;
  Watch(list, "l");
  auto item = std::make_unique<TNotifyObject>(nullptr);
  list.Add(item.get());
  list.Add(item.get());
  EXPECT_EQ(item->NotifyLists().size(), 2u);
  list.Extract(item.get());
  EXPECT_EQ(item->NotifyLists().size(), 1u);
  EXPECT_EQ(list.Count(), 1);
  list.Add(item.get());
  log_.clear();
  item.reset();
  EXPECT_EQ(log_, (std::vector<std::string>{"free l", "remove l", "free l", "remove l"}));
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(NotifyTest, DestroyedListDeletesFromTheLastAndFreesNoMember) {
  TNotifyObject x(nullptr), y(nullptr);
  std::vector<TNotifyObject*> removed;
  {
    TNotifyList list;
    TNotifyList keep;
    list.OnRemove = [&](TNotifyList*, TNotifyObject* item) { removed.push_back(item); };
    list.Add(&x);
    list.Add(&y);
    keep.Add(&x);
  }
  EXPECT_EQ(removed, (std::vector<TNotifyObject*>{&y, &x}));
  EXPECT_TRUE(x.NotifyLists().empty());
  EXPECT_TRUE(y.NotifyLists().empty());
}

TEST_F(NotifyTest, EveryChangeOfMembershipRunsThroughNotify) {
  struct TCountingList : TNotifyList {
    std::vector<TListNotification> seen;
    void Notify(TNotifyObject* item, TListNotification action) override {
      seen.push_back(action);
      TNotifyList::Notify(item, action);
    }
    ~TCountingList() override { Clear(); }
  };
  TNotifyObject x(nullptr), y(nullptr);
  TCountingList list;
  int inserts = 0;
  list.OnInsert = [&](TNotifyList*, TNotifyObject*) { ++inserts; };
  list.Add(&x);
  list.Insert(0, &y);
  list.Add(nullptr);  // a null entry is allowed and has no record to keep
  EXPECT_EQ(list.IndexOf(&y), 0);
  EXPECT_EQ(list.Remove(&x), 1);
  EXPECT_EQ(list.Remove(&x), -1);
  EXPECT_EQ(list.Extract(&x), nullptr);
  EXPECT_EQ(list.Extract(&y), &y);
  list.Delete(0);
  using N = TNotifyList::TListNotification;
  EXPECT_EQ(list.seen, (std::vector<N>{N::lnAdded, N::lnAdded, N::lnAdded, N::lnDeleted,
                                       N::lnExtracted, N::lnDeleted}));
  EXPECT_EQ(inserts, 3);
  EXPECT_TRUE(x.NotifyLists().empty());
  EXPECT_TRUE(y.NotifyLists().empty());
  EXPECT_THROW(list.Delete(0), std::out_of_range);
  EXPECT_THROW(list.Items(-1), std::out_of_range);
}

TEST_F(NotifyTest, FreeCallbackThatRemovesTheItemItselfDoesNotHang) {
  TNotifyList list;
  list.OnItemFree = [](TNotifyList* l, TNotifyObject* item) { l->Remove(item); };
  TNotifyList second;
  auto item = std::make_unique<TNotifyObject>(nullptr);
  list.Add(item.get());
  second.Add(item.get());
  second.OnItemFree = [&](TNotifyList*, TNotifyObject* i) { list.Extract(i); };
  item.reset();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(second.Count(), 0);
}

}  // namespace
}  // namespace vandrel
