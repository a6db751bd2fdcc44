// Event lists: matching, the unordered removal and the call of every entry.
#include "service/event_list.h"

#include <algorithm>

namespace vandrel {

void AddEventHandler(TEventList& list, const TNotifyEvent& handler) {
  if (std::find(list.begin(), list.end(), handler) != list.end()) return;
  list.push_back(handler);
}

void RemoveEventHandler(TEventList& list, const TNotifyEvent& handler) {
  auto it = std::find(list.begin(), list.end(), handler);
  if (it == list.end()) return;
  if (it != list.end() - 1) *it = list.back();
  list.pop_back();
}

void CallEventHandlers(const TEventList& list, TNotifyObject* sender) {
  // A handler may change the list (a base that closes itself on a change
  // removes its own entry); iterate over a snapshot and call only entries
  // that are still registered.
  const TEventList snapshot = list;
  for (const TNotifyEvent& handler : snapshot) {
    if (std::find(list.begin(), list.end(), handler) == list.end()) continue;
    handler(sender);
  }
}

}  // namespace vandrel
