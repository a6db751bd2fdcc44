// Event lists: matching by method and object, unordered removal, and calls
// while handlers change the list.
#include "service/event_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel {
namespace {

std::vector<std::string> calls;

struct TListener {
  std::string name;
  void OnA(TNotifyObject*) { calls.push_back(name + ".A"); }
  void OnB(TNotifyObject*) { calls.push_back(name + ".B"); }
};

std::vector<std::string> Names(const TEventList& list) {
  std::vector<std::string> names;
  for (const TNotifyEvent& e : list) {
    const auto* l = static_cast<const TListener*>(e.Object);
    names.push_back(l->name + (e.Code == &detail::CallNotifyMethod<&TListener::OnA> ? ".A" : ".B"));
  }
  return names;
}

TEST(EventList, MatchesByMethodAndObjectTogether) {
  TListener x{"x"}, y{"y"};
  TEventList list;
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&x));
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&x));  // same method, same object
  EXPECT_EQ(Names(list), (std::vector<std::string>{"x.A"}));
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&y));  // same method, other object
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnB>(&x));  // other method, same object
  EXPECT_EQ(Names(list), (std::vector<std::string>{"x.A", "y.A", "x.B"}));

  RemoveEventHandler(list, MakeNotifyEvent<&TListener::OnB>(&y));  // not in the list
  EXPECT_EQ(list.size(), 3u);
}

TEST(EventList, RemovalMovesTheLastEntryIntoTheGap) {
  TListener a{"a"}, b{"b"}, c{"c"};
  TEventList list;
  for (TListener* l : {&a, &b, &c}) AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(l));
  RemoveEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&a));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"c.A", "b.A"}));
  // The moved entry still calls its own object.
  calls.clear();
  CallEventHandlers(list, nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"c.A", "b.A"}));

  RemoveEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&b));  // the last: just shrinks
  EXPECT_EQ(Names(list), (std::vector<std::string>{"c.A"}));
  RemoveEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&c));
  EXPECT_TRUE(list.empty());
  RemoveEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&c));
  EXPECT_TRUE(list.empty());
}

// A handler that changes the list while it is being called.
struct TMutator {
  TEventList* list;
  TListener* victim;
  TListener* newcomer;
  void Run(TNotifyObject*) {
    calls.push_back("mutator");
    RemoveEventHandler(*list, MakeNotifyEvent<&TListener::OnA>(victim));
    AddEventHandler(*list, MakeNotifyEvent<&TListener::OnA>(newcomer));
  }
};

TEST(EventList, HandlersRemovedDuringACallAreNotCalled) {
  TListener victim{"victim"}, newcomer{"new"}, first{"first"};
  TEventList list;
  TMutator mutator{&list, &victim, &newcomer};
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&first));
  AddEventHandler(list, MakeNotifyEvent<&TMutator::Run>(&mutator));
  AddEventHandler(list, MakeNotifyEvent<&TListener::OnA>(&victim));
  calls.clear();
  CallEventHandlers(list, nullptr);
  // The victim left before its turn; the newcomer joins from the next call.
  EXPECT_EQ(calls, (std::vector<std::string>{"first.A", "mutator"}));
  calls.clear();
  CallEventHandlers(list, nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"first.A", "mutator", "new.A"}));
}

}  // namespace
}  // namespace vandrel
