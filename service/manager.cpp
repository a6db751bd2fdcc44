// The manager: named window, base manager, client list, client check and
// the end of the service with the last release.
#include "service/manager.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/exceptions.h"
#include "platform/mapping.h"
#include "platform/window.h"
#include "protocol/message_ids.h"
#include "service/errors.h"
#include "service/object_window.h"

namespace vandrel {
namespace {

TBaseManFactory& BaseManFactory() {
  static TBaseManFactory factory;
  return factory;
}

bool was_connected = false;
int live_managers = 0;

// Names the window that the next message object creates; the manager's
// constructor clears the name again once its window exists.
TNotifyObject* NameNextWindow(TNotifyObject* owner) {
  ObjectWindowName() = kManagerWindowName;
  return owner;
}

}  // namespace

void SetBaseManFactory(TBaseManFactory factory) { BaseManFactory() = std::move(factory); }

bool WasConnected() { return was_connected; }
bool ManagerAlive() { return live_managers > 0; }

// ---- TCustomManager ----

TCustomManager::TCustomManager(TNotifyObject* owner) try : TAutoObject(NameNextWindow(owner)) {
  ObjectWindowName().clear();
  if (Handle() == 0) {
    // The name is the only thing that can be taken: the last error of the
    // window creation is gone by now (the transfer channel came after it).
    const win::HWND other = win::FindWindowA(kManagerWindowClass, kManagerWindowName);
    if (other != 0) {
      win::DWORD pid = 0;
      win::GetWindowThreadProcessId(other, &pid);
      throw Exception("another Vandrel service (process " + std::to_string(pid) +
                      ") is already running in this session");
    }
    throw Exception("cannot create the manager window \"" + std::string(kManagerWindowName) + "\"");
  }
  ++live_managers;
  if (BaseManFactory()) {
    try {
      base_man_ = BaseManFactory()(this);
    } catch (...) {
      --live_managers;
      throw;
    }
  }
} catch (...) {
  ObjectWindowName().clear();
  throw;
}

TCustomManager::~TCustomManager() {
  base_man_.reset();
  --live_managers;
  win::PostQuitMessage(0);
}

const TMessageTable& TCustomManager::MessageTable() {
  static const TMessageTable table("TCustomManager", &TAutoObject::MessageTable(), {});
  return table;
}

void TCustomManager::AddRef() {
  TAutoObject::AddRef();
  was_connected = true;
}

// ---- TManager ----

TManager::TManager(TNotifyObject* owner) : TCustomManager(owner) {
  win::SetTimer(Handle(), kClientCheckTimerId, kClientCheckPeriodMs, nullptr);
}

// The timer ends with the window.
TManager::~TManager() = default;

const TMessageTable& TManager::MessageTable() {
  static const TMessageTable table(
      "TManager", &TCustomManager::MessageTable(),
      {
          {QM_CONNECT, &TManager::QmConnect},
          {QM_DISCONNECT, &TManager::QmDisconnect},
          {QM_GETBASEMAN, &TManager::QmGetBaseMan},
          {static_cast<std::uint16_t>(win::WM_TIMER), &TManager::WmTimer},
      });
  return table;
}

void TManager::QmConnect(TMessage& message) {
  // The reference is taken before the checks: a refused connect still
  // counts, and keeps the service up until it is given back.
  Inherited<TManager>(message);
  const auto client = static_cast<win::HWND>(message.WParam);
  try {
    const std::int32_t version = Transfer().ReadInteger(kConnectVersionItem);
    if (version > kSupportedClientVersion) {
      const std::string name = ErrorTextFromWide(Transfer().ReadWideString(kConnectNameItem));
      throw ELocal("This version of " + name + " not supports. Download latest Vandrel version.",
                   kErrVersionNotSupported);
    }
    if (std::find(clients_.begin(), clients_.end(), client) != clients_.end()) {
      throw ELocal("Second connect query from client", kErrSecondConnect);
    }
  } catch (...) {
    refused_.push_back(client);
    throw;
  }
  clients_.push_back(client);
}

void TManager::QmDisconnect(TMessage& message) {
  const auto client = static_cast<win::HWND>(message.WParam);
  auto it = std::find(clients_.begin(), clients_.end(), client);
  if (it == clients_.end()) {
    throw ELocal("Disconnect query from non-client", kErrNonClientDisconnect);
  }
  clients_.erase(it);
  // May free the manager (deferred until its dispatch returns).
  Inherited<TManager>(message);
}

void TManager::QmGetBaseMan(TMessage& message) {
  if (BaseMan() == nullptr) {
    // No base manager in this build of the service: unanswered (code 3).
    Inherited<TManager>(message);
    return;
  }
  Transfer().ResetWrite();
  Transfer().WriteInteger(kBaseManItem, static_cast<std::int32_t>(BaseMan()->Handle()));
}

void TManager::WmTimer(TMessage& message) {
  Inherited<TManager>(message);
  if (message.WParam != static_cast<std::int32_t>(kClientCheckTimerId)) return;
  CheckClients();
  // Buffers of clients that were killed are held by nobody: their names go.
  if (!FreePending()) win::RemoveStaleSharedMemory();
}

bool TManager::Answers(win::HWND window) {
  win::DWORD tick = win::GetTickCount();
  // A dead window answers 0: never ping with 0.
  if (tick == 0) tick = 1;
  // A client that is alive but does not answer within one check period
  // (stopped, or stuck without pumping) counts as gone: waiting for it
  // without a limit would stall every later check and keep a service whose
  // other clients have all left from ending.
  win::DWORD answer = 0;
  if (win::SendMessageTimeoutA(window, QM_PING, tick, 0, win::SMTO_ABORTIFHUNG,
                               kClientCheckPeriodMs, &answer) == 0) {
    return false;
  }
  return answer == tick;
}

void TManager::CheckClients() {
  // While a ping waits, other requests run and may change the lists (and
  // free the manager): each index is checked against the current list
  // before it is used, and the check ends when the manager is going.
  for (std::size_t i = clients_.size(); i-- > 0;) {
    if (i >= clients_.size()) continue;
    const win::HWND client = clients_[i];
    const bool alive = Answers(client);
    if (FreePending()) return;
    if (alive) continue;
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end()) continue;
    // A disconnect on the client's behalf; it reads no items, so the
    // manager's own buffer serves as the request buffer.
    win::SendMessageA(Handle(), QM_DISCONNECT, client, Transfer().BufferId());
    if (FreePending()) return;
  }
  for (std::size_t i = refused_.size(); i-- > 0;) {
    if (i >= refused_.size()) continue;
    const win::HWND window = refused_[i];
    const bool alive = Answers(window);
    if (FreePending()) return;
    if (alive) continue;
    auto it = std::find(refused_.begin(), refused_.end(), window);
    if (it == refused_.end()) continue;
    refused_.erase(it);
    Release();
    if (FreePending()) return;
  }
}

}  // namespace vandrel
