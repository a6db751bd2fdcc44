// The request server used by the two-process exchange tests: the requests it
// answers, its handlers, and the client-side handler that it calls back.
// Included by the peer program and by the tests (which also host one).
#pragma once

#include <cstdint>
#include <string>

#include "platform/exceptions.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/link_object.h"
#include "service/query_ids.h"

namespace vandrel::linkpeer {

// Requests of the test protocol (inside the request range).
constexpr std::uint16_t RQ_ECHO =
    0x3000;  // 1 int, 2 double, 3 wide -> 1 int+1, 2 double*2, 3 wide+"!"
constexpr std::uint16_t RQ_READ_SWAPPED = 0x3001;  // reads item 2 before item 1
constexpr std::uint16_t RQ_RAISE_LOCAL = 0x3002;   // 1 code, 2 text -> raises ELocal
constexpr std::uint16_t RQ_RAISE_PLAIN = 0x3003;   // 2 text -> raises Exception
constexpr std::uint16_t RQ_TEXT = 0x3004;          // 1 length -> 1 wide string of that length
constexpr std::uint16_t RQ_CALL_BACK =
    0x3005;                                 // 1 v -> queries Remote RQ_ADD_ONE(10 v) -> 1 result
constexpr std::uint16_t RQ_ABORT = 0x3006;  // raises EAbort after answering 1 = 7
constexpr std::uint16_t RQ_BOX_COUNT = 0x3007;  // -> 1 message boxes so far, 2 last text
constexpr std::uint16_t RQ_QUIT = 0x3008;       // posts WM_QUIT
constexpr std::uint16_t RQ_ADD_ONE = 0x3009;    // handled by TLinkClient
constexpr std::uint16_t RQ_NEW_CHILD = 0x300A;  // -> 1 window of a new self-freeing child
constexpr std::uint16_t RQ_VERDICT = 0x300B;    // 1 failures, 2 text: the attacker's result
constexpr std::uint16_t RQ_UNHANDLED = 0x3050;  // no class handles it

// The character at position i of the text that RQ_TEXT answers.
inline char16_t TextChar(std::int32_t i) { return static_cast<char16_t>(u'A' + i % 26); }

// Message boxes seen by this process (installed by InstallBoxCounter).
struct BoxLog {
  int count = 0;
  std::string last_text;
  std::string last_caption;
};
inline BoxLog& Boxes() {
  static BoxLog log;
  return log;
}
inline void InstallBoxCounter() {
  win::SetMessageBoxHook(
      [](win::HWND, const std::string& text, const std::string& caption, win::UINT) {
        ++Boxes().count;
        Boxes().last_text = text;
        Boxes().last_caption = caption;
      });
}

// A linked object that frees itself on QM_DISCONNECT (the way a
// reference-counted object ends inside its own handler).
class TSelfFreeing : public TLinkObject {
 public:
  using TLinkObject::TLinkObject;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TSelfFreeing", &TLinkObject::MessageTable(),
                                     {{QM_DISCONNECT, &TSelfFreeing::QmDisconnect}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void QmDisconnect(TMessage& message) {
    Inherited<TSelfFreeing>(message);
    Free();
  }
};

class TLinkServer : public TLinkObject {
 public:
  explicit TLinkServer(TNotifyObject* owner) : TLinkObject(owner) {}
  // The attacker's verdict once RQ_VERDICT arrived.
  bool verdict_received = false;
  std::int32_t verdict_failures = -1;
  std::string verdict_text;

  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TLinkServer", &TLinkObject::MessageTable(),
                                     {
                                         {RQ_ECHO, &TLinkServer::Echo},
                                         {RQ_READ_SWAPPED, &TLinkServer::ReadSwapped},
                                         {RQ_RAISE_LOCAL, &TLinkServer::RaiseLocal},
                                         {RQ_RAISE_PLAIN, &TLinkServer::RaisePlain},
                                         {RQ_TEXT, &TLinkServer::Text},
                                         {RQ_CALL_BACK, &TLinkServer::CallBack},
                                         {RQ_ABORT, &TLinkServer::Abort},
                                         {RQ_BOX_COUNT, &TLinkServer::BoxCount},
                                         {RQ_QUIT, &TLinkServer::Quit},
                                         {RQ_NEW_CHILD, &TLinkServer::NewChild},
                                         {RQ_VERDICT, &TLinkServer::Verdict},
                                     });
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void Echo(TMessage&) {
    TTransferMan& t = Transfer();
    const std::int32_t i = t.ReadInteger(1);
    const double d = t.ReadDouble(2);
    const std::u16string s = t.ReadWideString(3);
    t.ResetWrite();
    t.WriteInteger(1, i + 1);
    t.WriteDouble(2, d * 2);
    t.WriteWideString(3, s + u"!");
  }
  void ReadSwapped(TMessage&) {
    Transfer().ReadDouble(2);
    Transfer().ReadInteger(1);
  }
  void RaiseLocal(TMessage&) {
    const std::int32_t code = Transfer().ReadInteger(1);
    throw ELocal(ErrorTextFromWide(Transfer().ReadWideString(2)), code);
  }
  void RaisePlain(TMessage&) { throw Exception(ErrorTextFromWide(Transfer().ReadWideString(2))); }
  void Text(TMessage&) {
    const std::int32_t n = Transfer().ReadInteger(1);
    std::u16string s(static_cast<std::size_t>(n), u' ');
    for (std::int32_t i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = TextChar(i);
    Transfer().ResetWrite();
    Transfer().WriteWideString(1, s);
  }
  void CallBack(TMessage&) {
    // All request items are read before the outgoing query reuses the view.
    const std::int32_t v = Transfer().ReadInteger(1);
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, v * 10);
    Query(RQ_ADD_ONE);
    const std::int32_t r = Transfer().ReadInteger(1);
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, r);
    Transfer().WriteWideString(2, u"called back");
  }
  void Abort(TMessage&) {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, 7);
    throw EAbort("silent");
  }
  void BoxCount(TMessage&) {
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, Boxes().count);
    Transfer().WriteWideString(2, ErrorTextToWide(Boxes().last_text));
  }
  void Quit(TMessage&) { win::PostQuitMessage(0); }
  void NewChild(TMessage&) {
    auto* child = new TSelfFreeing(this);  // frees itself on QM_DISCONNECT
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, static_cast<std::int32_t>(child->Handle()));
  }
  void Verdict(TMessage&) {
    verdict_failures = Transfer().ReadInteger(1);
    verdict_text = ErrorTextFromWide(Transfer().ReadWideString(2));
    verdict_received = true;
    win::PostQuitMessage(0);
  }
};

// The calling side's object: answers the server's call back with a nested
// request of its own to the server.
class TLinkClient : public TLinkObject {
 public:
  using TLinkObject::TLinkObject;
  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TLinkClient", &TLinkObject::MessageTable(),
                                     {{RQ_ADD_ONE, &TLinkClient::AddOne}});
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // v -> v + 2: one from the server's echo (nested the other way), one here.
  void AddOne(TMessage&) {
    const std::int32_t v = Transfer().ReadInteger(1);
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, v);
    Transfer().WriteDouble(2, 0.5);
    Transfer().WriteWideString(3, u"");
    Query(RQ_ECHO);
    const std::int32_t e = Transfer().ReadInteger(1);
    Transfer().ResetWrite();
    Transfer().WriteInteger(1, e + 1);
  }
};

}  // namespace vandrel::linkpeer
