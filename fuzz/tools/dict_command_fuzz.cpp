// The DICT gateway's command handling from hostile bytes: a connection over
// in-memory databases fed the input in pieces (the first byte chooses their
// size), and the command splitter. Every reply must end its lines with CR
// LF, the input a connection keeps must stay bounded, and a quoted word must
// split back into itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dict_server/dict_command.h"
#include "tools/dict_server/dict_connection.h"
#include "tools/dict_server/memory_backend.h"

using namespace vandrel;
using namespace vandrel::dictd;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

TMemoryBackend& Backend() {
  static TMemoryBackend* backend = [] {
    auto* b = new TMemoryBackend;
    b->Add({"en", "English"}, {{u"house", "a building\n.dot"},
                               {u"horse", "an animal"},
                               {u"H\u00e4user", "houses"},
                               {u"mouse", ""}});
    b->Add({"de", "Deutsch"}, {{u"Haus", "house"}, {u"hose", "trousers"}});
    return b;
  }();
  return *backend;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  TServerInfo info;
  TDictConnection connection(Backend(), info, 1);
  std::string sent = connection.Output();  // the banner
  connection.Output().clear();
  for (std::size_t at = 0; at < input.size() && !connection.Closing(); at += piece) {
    connection.Receive(input.substr(at, piece));
    sent += connection.Output();
    connection.Output().clear();
    connection.Resume();
    sent += connection.Output();
    connection.Output().clear();
  }
  Check(sent.size() >= 2 && sent.compare(sent.size() - 2, 2, "\r\n") == 0);
  for (std::size_t i = 0; i < sent.size(); ++i)
    if (sent[i] == '\n') Check(i > 0 && sent[i - 1] == '\r');

  std::vector<std::string> words;
  const std::string line(input.substr(0, kMaxLine));
  if (SplitCommand(line, words)) {
    for (const std::string& w : words) {
      std::vector<std::string> again;
      Check(SplitCommand(Quoted(w), again));
      Check(again.size() == 1 && again[0] == w);
    }
  }
  return 0;
}
