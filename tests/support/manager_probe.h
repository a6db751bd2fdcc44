// TManagerProbe: a test's own link object that talks to a manager window the
// way a client does - connects with a version and a name, sends bare
// requests, and counts the manager's pings. Headers only: the tests that use
// it link the messaging core (vandrel_messaging) themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/utf8.h"
#include "platform/win_types.h"
#include "protocol/manager_ids.h"
#include "protocol/message_ids.h"
#include "service/errors.h"
#include "service/link_object.h"

namespace vandrel::test {

class TManagerProbe : public TLinkObject {
 public:
  explicit TManagerProbe(win::HWND manager) : TLinkObject(nullptr) { SetRemote(manager); }

  // Pings the manager sent to this probe.
  int pings = 0;

  // QM_CONNECT with the given version and client name; raises ERemote when
  // the manager refuses.
  void Connect(std::int32_t version, const std::string& name = "Probe") {
    Transfer().ResetWrite();
    Transfer().WriteInteger(kConnectVersionItem, version);
    Transfer().WriteWideString(kConnectNameItem, Utf8ToWideLenient(name));
    Query(QM_CONNECT);
  }
  // A request without items.
  void Call(std::uint16_t id) {
    Transfer().ResetWrite();
    Query(id);
  }
  void Disconnect() { Call(QM_DISCONNECT); }

  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TManagerProbe", &TLinkObject::MessageTable(),
                                     {{QM_PING, &TManagerProbe::Ping}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Ping(TMessage& message) {
    ++pings;
    Inherited<TManagerProbe>(message);
  }
};

// The error code of the answer f() raised (ERemote), its text in *text;
// 0 when f() returned normally.
inline int RemoteCode(const std::function<void()>& f, std::string* text = nullptr) {
  try {
    f();
  } catch (const ERemote& e) {
    if (text != nullptr) *text = e.Message();
    return e.HelpContext();
  }
  return 0;
}

}  // namespace vandrel::test
