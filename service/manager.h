// The manager: the one object of the service that a client addresses first.
// Its window is the only named window of the service ("Vandrel_kstbpsd"),
// so clients find the service by that name, and a second service in the
// same namespace cannot create it. The manager owns the base manager, keeps
// the list of connected clients, pings them every 5 s, disconnects the ones
// that are gone on their behalf, and ends the service (posts WM_QUIT) when
// its last reference is released.
//
// Lifetime: created once by the service's entry with new and no owner;
// frees itself through Free() when the last client disconnects - inside
// that disconnect's handler, which may itself run nested inside the client
// check. Free() defers the delete until the manager's outermost dispatch
// has returned, and the client check stops as soon as FreePending() says
// the manager is going. Code outside the manager keeps its window handle,
// never the pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/win_types.h"
#include "protocol/manager_ids.h"
#include "service/auto_object.h"
#include "service/handle_object.h"
#include "service/link_object.h"

namespace vandrel {

// The client check: window timer id 2 of the manager's window, every 5 s.
constexpr win::UINT_PTR kClientCheckTimerId = 2;
constexpr win::UINT kClientCheckPeriodMs = 5000;

class TCustomManager;

// Creates the base manager of a manager (owner = the manager). The object
// model installs it before the manager is created; without one the manager
// has no base manager and QM_GETBASEMAN is not answered (code 3).
using TBaseManFactory = std::function<TOwnedPtr<TLinkObject>(TCustomManager* manager)>;
void SetBaseManFactory(TBaseManFactory factory);

// True once any client has taken a reference on a manager of this process;
// never reset.
bool WasConnected();
// True while a manager of this process exists (not yet freed).
bool ManagerAlive();

class TCustomManager : public TAutoObject {
 public:
  // Creates the window named "Vandrel_kstbpsd" and the transfer channel,
  // then the base manager (SetBaseManFactory). Raises Exception when the
  // window cannot be created; the text names the process of the other
  // service when one of the namespace has the window already.
  explicit TCustomManager(TNotifyObject* owner);
  // Frees the base manager (and everything below it), then posts WM_QUIT.
  ~TCustomManager() override;

  // Inherited AddRef, then marks the process as having been connected.
  void AddRef() override;

  // The base manager, or null when none was created.
  TLinkObject* BaseMan() const { return base_man_.get(); }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  TOwnedPtr<TLinkObject> base_man_;
};

class TManager : public TCustomManager {
 public:
  // Inherited construction, then the 5 s client-check timer.
  explicit TManager(TNotifyObject* owner);
  ~TManager() override;

  // Connected client windows, one entry per accepted connect, in connect
  // order.
  const std::vector<win::HWND>& Clients() const { return clients_; }
  // The windows of refused connects, one entry per reference such a
  // connect took. A refused connect keeps its reference (the service stays
  // up for that client), but no disconnect can give it back - the window is
  // not a client - so the client check gives it back once the window is
  // gone.
  const std::vector<win::HWND>& Refused() const { return refused_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // QM_CONNECT: links and counts the caller (also when it is refused
  // below), then checks its protocol version (item 5; item 6, its name, is
  // read for versions above 1 and quoted in code 101) and that it is not
  // listed yet (code 102), and lists it.
  void QmConnect(TMessage& message);
  // QM_DISCONNECT: refuses a window that is not listed (code 103, nothing
  // changes), unlists it, then releases its reference.
  void QmDisconnect(TMessage& message);
  // QM_GETBASEMAN: item 1 = the base manager's window.
  void QmGetBaseMan(TMessage& message);
  // WM_TIMER: the client check.
  void WmTimer(TMessage& message);
  // Pings every client, last to first, and disconnects each that does not
  // echo the ping, on its behalf; then gives back the references of
  // refused connects whose windows are gone.
  void CheckClients();
  // Pings window; true when it echoed.
  static bool Answers(win::HWND window);

  std::vector<win::HWND> clients_;
  std::vector<win::HWND> refused_;
};

}  // namespace vandrel
