// Peer process of the exchange tests.
//   linkpeer serve NAME    hosts a TLinkServer whose window is named NAME
//                          until a request posts WM_QUIT
//   linkpeer attack HWND   sends malformed request buffers to the server
//                          window HWND, checks each error answer, checks
//                          that a valid request still works, then sends
//                          RQ_VERDICT; exits with the number of failures
//   linkpeer numbers N FILE
//                          creates a transfer buffer, grows it N times and
//                          writes the N + 1 numbers it was handed to FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/unique_handle.h"
#include "platform/window.h"
#include "service/object_window.h"
#include "tests/service/peers/linkpeer_server.h"

namespace vandrel::linkpeer {
namespace {

int Serve(const std::string& name) {
  InstallBoxCounter();
  ObjectWindowName() = name;
  auto* server = new TLinkServer(nullptr);
  ObjectWindowName().clear();
  if (server->Handle() == 0) return 2;
  win::MSG msg;
  while (win::GetMessageA(&msg, 0, 0, 0) > 0) {
    win::TranslateMessage(&msg);
    win::DispatchMessageA(&msg);
  }
  server->Free();
  return 0;
}

// Little-endian builder of raw (possibly malformed) transfer buffers.
struct RawBuffer {
  std::vector<std::uint8_t> bytes{1, 0, 0, 0};
  RawBuffer& U16(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  RawBuffer& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  RawBuffer& Bytes(std::size_t n, std::uint8_t fill = 0x41) {
    bytes.insert(bytes.end(), n, fill);
    return *this;
  }
  RawBuffer& Int(std::uint16_t id, std::int32_t v) {
    return U16(id).U32(4).U32(static_cast<std::uint32_t>(v));
  }
  RawBuffer& Dbl(std::uint16_t id) { return U16(id).U32(8).Bytes(8, 0); }
};

struct Case {
  const char* what;
  RawBuffer buffer;
};

std::vector<Case> MalformedEchoRequests() {
  std::vector<Case> cases;
  cases.push_back(
      {"integer length past the end", RawBuffer().U16(1).U32(0xFFFFFFF0u).U32(5).U16(0)});
  cases.push_back({"integer of length 2", RawBuffer().U16(1).U32(2).Bytes(4).U16(0)});
  cases.push_back({"integer header without value", RawBuffer().U16(1).U32(4)});
  cases.push_back({"double of length 4", RawBuffer().Int(1, 5).U16(2).U32(4).Bytes(8).U16(0)});
  cases.push_back(
      {"odd wide-string length", RawBuffer().Int(1, 5).Dbl(2).U16(3).U32(3).Bytes(4).U16(0)});
  cases.push_back(
      {"wide string past the end", RawBuffer().Int(1, 5).Dbl(2).U16(3).U32(10).Bytes(8)});
  cases.push_back({"items cut short, no end mark", RawBuffer().Int(1, 5).Dbl(2)});
  cases.push_back({"half an item id", RawBuffer().Int(1, 5).Dbl(2).Bytes(1, 3)});
  RawBuffer tiny;
  tiny.bytes = {1, 0};
  cases.push_back({"buffer shorter than the answer code", tiny});
  return cases;
}

int Attack(win::HWND server) {
  TLinkClient client(nullptr);
  client.SetRemote(server);
  int failures = 0;
  std::string report;
  auto fail = [&](const std::string& text) {
    ++failures;
    report += text + "; ";
    std::fprintf(stderr, "linkpeer attack: %s\n", text.c_str());
  };
  // Raw buffers live under numbers the shared counter of a fresh namespace
  // never reaches.
  std::int32_t number = 0x7FFF0000;
  for (const Case& c : MalformedEchoRequests()) {
    ++number;
    const win::UniqueHandle mapping(win::CreateFileMappingA(
        win::INVALID_HANDLE_VALUE, nullptr, win::PAGE_READWRITE | win::SEC_COMMIT, 0,
        static_cast<win::DWORD>(c.buffer.bytes.size()), TransferBufferName(number).c_str()));
    win::UniqueView view(
        mapping ? win::MapViewOfFile(mapping.get(), win::FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    if (!view) {
      fail(std::string(c.what) + ": cannot create the raw buffer");
      continue;
    }
    std::memcpy(view.get(), c.buffer.bytes.data(), c.buffer.bytes.size());
    const win::LRESULT result = win::SendMessageA(server, RQ_ECHO, client.Handle(), number);
    try {
      TTransferMan& t = client.Transfer();
      t.OpenRead(result, -RQ_ECHO);
      const std::int32_t answer = t.ReadAnswer();
      const std::int32_t code = t.ReadInteger(kErrorCodeItem);
      const std::string text = ErrorTextFromWide(t.ReadWideString(kErrorTextItem));
      const std::string expected = "Wrong read ID. Query " + std::to_string(RQ_ECHO);
      if (answer != kAnswerFailed || code != kErrWrongReadId || text != expected)
        fail(std::string(c.what) + ": answer " + std::to_string(answer) + " code " +
             std::to_string(code) + " text '" + text + "'");
    } catch (const std::exception& e) {
      fail(std::string(c.what) + ": " + e.what());
    }
  }
  // The server goes on serving.
  try {
    client.Transfer().ResetWrite();
    client.Transfer().WriteInteger(1, 41);
    client.Transfer().WriteDouble(2, 1.25);
    client.Transfer().WriteWideString(3, u"still here");
    client.Query(RQ_ECHO);
    if (client.Transfer().ReadInteger(1) != 42 || client.Transfer().ReadDouble(2) != 2.5 ||
        client.Transfer().ReadWideString(3) != u"still here!")
      fail("valid echo after the attack gave wrong results");
  } catch (const std::exception& e) {
    fail(std::string("valid echo after the attack: ") + e.what());
  }
  client.Transfer().ResetWrite();
  client.Transfer().WriteInteger(1, failures);
  client.Transfer().WriteWideString(2, ErrorTextToWide(report));
  client.Query(RQ_VERDICT);
  return failures;
}

int Numbers(int count, const std::string& file) {
  TTransferMan transfer;
  std::ofstream out(file);
  out << transfer.BufferId() << "\n";
  for (int i = 0; i < count; ++i) {
    transfer.Grow(transfer.BufferSize() + 1);
    out << transfer.BufferId() << "\n";
  }
  return out.good() ? 0 : 4;
}

}  // namespace
}  // namespace vandrel::linkpeer

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: linkpeer serve NAME | attack HWND | numbers N FILE\n");
    return 2;
  }
  try {
    const std::string mode = argv[1];
    if (mode == "serve") return vandrel::linkpeer::Serve(argv[2]);
    if (mode == "attack")
      return vandrel::linkpeer::Attack(static_cast<vandrel::win::HWND>(std::stoul(argv[2])));
    if (mode == "numbers" && argc == 4)
      return vandrel::linkpeer::Numbers(std::stoi(argv[2]), argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "linkpeer: %s\n", e.what());
    return 3;
  }
  return 2;
}
