// A translation program built outside the source tree against the
// installed client library: finds or starts the service, opens one
// dictionary, finds a word and prints its translation (marks dropped).
//   lookup_app DICT.dic WORD
// Prints "service: <program>" (the service process's executable), then
// "<word>: <translation>". Exit codes: 0 found, 1 not found, 2 usage,
// 3 a failure.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/cursor_client.h"
#include "client/service_connection.h"
#include "client/service_error.h"

namespace {

std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > 1) cp = c & (0xFF >> (n + 1));
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    i += n;
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// UTF-8 of the text units; marks (below U+0020) are dropped, line breaks
// become spaces.
std::string Utf8Text(const std::u16string& w) {
  std::string out;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t c = w[i];
    if (c == 13) c = ' ';
    if (c < 0x20) continue;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vandrel::client;
  using vandrel::TOwnedPtr;
  if (argc != 3) {
    std::fprintf(stderr, "usage: lookup_app DICT.dic WORD\n");
    return 2;
  }
  try {
    TClientOptions options;
    options.Name = "lookup_app";
    TServiceConnection service(options);
    char exe[4096] = {};
    const std::string link = "/proc/" + std::to_string(service.ServiceProcessId()) + "/exe";
    if (::readlink(link.c_str(), exe, sizeof exe - 1) < 0) exe[0] = '?';
    std::printf("service: %s\n", exe);
    TOwnedPtr<TBaseManClient> base_man(new TBaseManClient(service.BaseManWindow()));
    auto set = base_man->NewBaseSet();
    TBaseClient& base = set->OpenBase(Utf16(argv[1]));
    TCursorClient& cursor = set->NewCursor();
    const bool found = cursor.Find(Utf16(argv[2]));
    if (found) {
      std::printf("%s: %s\n", Utf8Text(cursor.State().Word).c_str(),
                  Utf8Text(cursor.GetTrans(base.Remote())).c_str());
    } else {
      std::printf("%s: not found\n", argv[2]);
    }
    set->Close();
    set.reset();
    base_man.reset();
    service.Disconnect();
    return found ? 0 : 1;
  } catch (const EServiceError& e) {
    std::fprintf(stderr, "lookup_app: %s (error %d)\n", e.Text().c_str(), e.Code());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lookup_app: %s\n", e.what());
  }
  return 3;
}
