// A server program of the client tests: hosts, behind a window named NAME,
// a factory of change-tracking counters and reference-counted objects, so
// that the client library can be tried against server objects in another
// process.
//   vandrel_object_server NAME
#include <string>
#include <vector>

#include "platform/window.h"
#include "service/auto_object.h"
#include "service/change_object.h"
#include "service/errors.h"
#include "service/object_window.h"
#include "tests/client/peers/client_peer_protocol.h"

namespace vandrel::clientpeer {
namespace {

class TCounter : public TChangeObject {
 public:
  explicit TCounter(TNotifyObject* owner) : TChangeObject(owner) {}
  void SendState() override {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, value_);
    TChangeObject::SendState();
  }
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TCounter", &TChangeObject::MessageTable(),
                                     {{RQ_BUMP, &TCounter::Bump}, {RQ_FAIL, &TCounter::Fail}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Bump(TMessage&) {
    // Every request item is read before the first notification reuses the
    // channel; the answer is written after the last one.
    const std::int32_t count = Transfer().ReadInteger(1);
    const bool bracketed = Transfer().ReadInteger(2) != 0;
    if (bracketed) BeginUpdate();
    for (std::int32_t i = 0; i < count; ++i) {
      ++value_;
      Changed();
    }
    if (bracketed) EndUpdate();
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, value_);
  }
  void Fail(TMessage&) { throw ELocal("counter refuses", kCounterErrorCode); }
  std::int32_t value_ = 0;
};

class TCounted : public TAutoObject {
 public:
  using TAutoObject::TAutoObject;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TCounted", &TAutoObject::MessageTable(), {});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class TServer : public TLinkObject {
 public:
  TServer() : TLinkObject(nullptr) {}
  ~TServer() override {
    for (TCounter* c : counters_) c->Free();
  }
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TServer", &TLinkObject::MessageTable(),
                                     {{RQ_NEW_COUNTER, &TServer::NewCounter},
                                      {RQ_NEW_AUTO, &TServer::NewAuto},
                                      {RQ_SERVER_QUIT, &TServer::Quit}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void NewCounter(TMessage&) {
    counters_.push_back(new TCounter(this));
    Answer(counters_.back()->Handle());
  }
  // Frees itself with its last disconnect.
  void NewAuto(TMessage&) { Answer((new TCounted(this))->Handle()); }
  void Quit(TMessage&) { win::PostQuitMessage(0); }
  void Answer(win::HWND window) {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, static_cast<std::int32_t>(window));
  }
  std::vector<TCounter*> counters_;
};

}  // namespace
}  // namespace vandrel::clientpeer

int main(int argc, char** argv) {
  using namespace vandrel;
  if (argc < 2) return 2;
  // The service's message boxes would only clutter the test output.
  win::SetMessageBoxHook([](win::HWND, const std::string&, const std::string&, win::UINT) {});
  ObjectWindowName() = argv[1];
  TOwnedPtr<clientpeer::TServer> server(new clientpeer::TServer());
  ObjectWindowName().clear();
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) win::DispatchMessageA(&msg);
  return 0;
}
