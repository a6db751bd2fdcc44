// TChangeObject: a linked object that tracks its own changes. Every change
// sends the object's state to the linked peer at once (QM_STATE); the
// change itself is delivered - local change handlers first, then QM_CHANGE
// to the peer - at once outside an update bracket, or once when the
// outermost bracket closes.
//
// Update state: Idle (UpdateCount 0) <-> InUpdate (UpdateCount != 0).
// PendingChange is set by Changed and cleared by BeginUpdate (also a nested
// one) and ClearChange; delivery does not clear it. An EndUpdate without a
// matching BeginUpdate makes UpdateCount negative, and no change is
// delivered while it is not 0.
//
// Changed, DoChange and EndUpdate send messages to the peer and wait for the
// answer; other requests may run meanwhile. They also reuse the object's
// one transfer channel: a request handler reads all its request items
// before it calls them, and writes its answer items only after the last of
// them.
#pragma once

#include <cstdint>

#include "service/event_list.h"
#include "service/link_object.h"

namespace vandrel {

class TChangeObject : public TLinkObject {
 public:
  explicit TChangeObject(TNotifyObject* owner);

  // Marks the change pending, sends the state (SendState), and delivers the
  // change (DoChange) when no bracket is open.
  virtual void Changed();
  // Sends QM_STATE to the peer with whatever the own buffer holds. A class
  // that publishes state overrides it: ResetWrite, its state items, then
  // the inherited SendState.
  virtual void SendState();
  // Calls every change handler, first to last, with this object as sender,
  // then sends QM_CHANGE to the peer. Does not clear PendingChange.
  virtual void DoChange();
  // Opens a bracket and drops any pending change.
  virtual void BeginUpdate();
  // Closes a bracket; the one that brings UpdateCount back to 0 delivers a
  // pending change.
  virtual void EndUpdate();
  // Drops a pending change.
  virtual void ClearChange();

  std::int32_t UpdateCount() const { return update_count_; }
  bool PendingChange() const { return pending_change_; }
  // The local change handlers, called in list order on every delivered
  // change. Their objects are used, not owned, and must remove their
  // entries (RemoveEventHandler) before they go.
  TEventList& ChangeHandlers() { return change_handlers_; }
  const TEventList& ChangeHandlers() const { return change_handlers_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // QM_BEGINUPDATE, QM_ENDUPDATE, QM_CLEARCHANGE: the virtual operations of
  // the same names, so that subclasses extend the operations, not the
  // handlers.
  void QmBeginUpdate(TMessage& message);
  void QmEndUpdate(TMessage& message);
  void QmClearChange(TMessage& message);

 private:
  std::int32_t update_count_ = 0;
  TEventList change_handlers_;
  bool pending_change_ = false;
};

}  // namespace vandrel
