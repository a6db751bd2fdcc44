// The DICT gateway's network side: one thread, one poll(2) loop over the
// listening socket and every connection, non-blocking sockets. Between
// rounds the loop handles the service's messages (pings, notifications),
// so the service never takes the gateway for gone.
//
// Bounds: at most kMaxConnections at once (one more is told "420" and
// closed), lines of 1024 bytes (a longer one is answered "500" and its
// connection closed), 1 MiB of replies waiting per connection (its further
// commands wait until the client reads), and kIdleSeconds without a byte
// from the client closes its connection.
#pragma once

#include <atomic>
#include <string>

#include "tools/dict_server/dict_backend.h"

namespace vandrel::dictd {

constexpr std::size_t kMaxConnections = 512;
constexpr int kIdleSeconds = 600;

struct TListenAddress {
  std::string Host = "127.0.0.1";
  int Port = 2628;
};

// "ADDR:PORT", "ADDR" or ":PORT" (IPv4 dotted address or a host name);
// false with a message for anything else.
bool ParseListenAddress(const std::string& text, TListenAddress& address, std::string& error);

// Listens on address and serves until stop becomes true (checked at least
// every 50 ms) or a fatal error; returns the process exit code. ready, if
// given, is called once the socket listens, with the port it got.
int RunDictServer(TDictBackend& backend, const TListenAddress& address,
                  const std::atomic<bool>& stop, void (*ready)(int port) = nullptr);

}  // namespace vandrel::dictd
