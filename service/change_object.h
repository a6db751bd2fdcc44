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
// Carrying: a request handler may have the answer to its peer carry the
// notifications instead (BeginCarry .. EndCarry): the state notification
// and the change notification are then kept, not sent, and the handler
// writes into its answer what was kept; the peer's client applies them as
// if they had arrived. At most one of each is kept: a further one sends
// the kept ones first, as do a nested request and a handler that fails
// (SendCarried), so the peer hears them in the order they were made. The
// local change handlers run as always, at once.
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
  // Sends QM_STATE to the peer with whatever the own buffer holds (keeps it
  // while carrying). A class that publishes state overrides it: ResetWrite,
  // its state items, then the inherited SendState.
  virtual void SendState();
  // Calls every change handler, first to last, with this object as sender,
  // then sends QM_CHANGE to the peer (keeps it while carrying). Does not
  // clear PendingChange.
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

  // Carrying for a nested request: what the outer request kept is sent
  // first, and the nested one carries nothing unless it asks.
  void WndProc(TMessage& message) override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // Whether the request being handled came from the linked peer: from its
  // window, sent by the process that owns that window.
  bool FromPeer(const TMessage& message);
  // Starts keeping the notifications for the running request's answer.
  void BeginCarry();
  bool Carrying() const { return carrying_; }
  // Stops keeping them; returns what was kept (kCarriedState,
  // kCarriedChange of protocol/page_ids.h), which the answer now carries.
  std::int32_t EndCarry();
  // Sends what was kept (state, then change) to the peer; carrying goes on.
  void SendCarried();
  // Writes the state items of the kept state notification into Transfer(),
  // for SendCarried. A class that publishes state overrides it.
  virtual void WriteCarriedState();

  // Carrying for the life of a request handler, when on: Kept() tells what
  // the answer is to carry, End() hands it to the answer. A handler that
  // leaves without End() (it failed) sends what was kept.
  class TCarry {
   public:
    TCarry(TChangeObject& object, bool on);
    ~TCarry();
    TCarry(const TCarry&) = delete;
    TCarry& operator=(const TCarry&) = delete;
    std::int32_t Kept() const;
    void End();

   private:
    TChangeObject& object_;
    bool on_;
  };

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
  bool carrying_ = false;
  bool carried_state_ = false;
  bool carried_change_ = false;
  // The peer window whose owner was looked up last, and its process.
  win::HWND owner_checked_ = 0;
  win::DWORD peer_process_ = 0;
};

}  // namespace vandrel
