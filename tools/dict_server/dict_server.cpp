// The gateway's poll loop: accepting, reading, answering, writing, closing.
#include "tools/dict_server/dict_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <vector>

#include "client/message_pump.h"
#include "platform/unique_handle.h"
#include "tools/dict_server/dict_connection.h"

namespace vandrel::dictd {
namespace {

struct TClient {
  win::UniqueFd fd;
  std::unique_ptr<TDictConnection> connection;
  std::time_t last_read = 0;
};

void CloseClient(TClient& client, TServerInfo& info) {
  client.fd.reset();
  --info.Connections;
}

// Sends what the socket takes now; false when the peer is gone.
bool Flush(TClient& client) {
  std::string& out = client.connection->Output();
  while (!out.empty()) {
    const ssize_t n = ::send(client.fd.get(), out.data(), out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseListenAddress(const std::string& text, TListenAddress& address, std::string& error) {
  const std::size_t colon = text.rfind(':');
  std::string host = colon == std::string::npos ? text : text.substr(0, colon);
  if (!host.empty()) address.Host = host;
  if (colon != std::string::npos) {
    const std::string port = text.substr(colon + 1);
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 0 || value > 65535) {
      error = "bad port \"" + port + "\"";
      return false;
    }
    address.Port = static_cast<int>(value);
  }
  if (address.Host.empty()) {
    error = "no address";
    return false;
  }
  return true;
}

int RunDictServer(TDictBackend& backend, const TListenAddress& address,
                  const std::atomic<bool>& stop, void (*ready)(int port)) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.Host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    std::fprintf(stderr, "vandrel dict-server: unknown address %s\n", address.Host.c_str());
    return 1;
  }
  sockaddr_in at{};
  std::memcpy(&at, found->ai_addr, sizeof at);
  ::freeaddrinfo(found);
  at.sin_port = htons(static_cast<std::uint16_t>(address.Port));
  const win::UniqueFd listener_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int listener = listener_fd.get();
  const int yes = 1;
  if (!listener_fd || ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::listen(listener, 128) != 0) {
    std::fprintf(stderr, "vandrel dict-server: cannot listen on %s:%d: %s\n", address.Host.c_str(),
                 address.Port, std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof at;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length);
  if (ready != nullptr) ready(ntohs(at.sin_port));

  TServerInfo info;
  char host[256] = "localhost";
  ::gethostname(host, sizeof host - 1);
  info.Host = host;
  info.StartTime = std::time(nullptr);
  unsigned long long next_id = 1;
  std::list<TClient> clients;
  std::vector<pollfd> fds;
  std::vector<TClient*> order;

  while (!stop.load()) {
    fds.clear();
    order.clear();
    fds.push_back({listener, POLLIN, 0});
    for (TClient& c : clients) {
      short events = 0;
      if (!c.connection->Closing() && c.connection->Output().size() < TDictConnection::kOutputBound)
        events |= POLLIN;
      if (!c.connection->Output().empty()) events |= POLLOUT;
      fds.push_back({c.fd.get(), events, 0});
      order.push_back(&c);
    }
    const int ready_count = ::poll(fds.data(), fds.size(), 50);
    // The service's pings and notifications wait for this thread.
    client::ProcessMessages();
    if (ready_count < 0 && errno != EINTR) {
      std::fprintf(stderr, "vandrel dict-server: poll: %s\n", std::strerror(errno));
      break;
    }
    const std::time_t now = std::time(nullptr);
    if (ready_count > 0 && (fds[0].revents & POLLIN) != 0) {
      // Accept what waits, a bounded number per round.
      for (int n = 0; n < 64; ++n) {
        win::UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) break;
        if (clients.size() >= kMaxConnections) {
          static const char kBusy[] =
              "420 server temporarily unavailable (too many connections)\r\n";
          [[maybe_unused]] const ssize_t sent =
              ::send(fd.get(), kBusy, sizeof kBusy - 1, MSG_NOSIGNAL);
          continue;
        }
        ++info.Connections;
        TClient& c = clients.emplace_back();
        c.fd = std::move(fd);
        c.last_read = now;
        c.connection = std::make_unique<TDictConnection>(backend, info, next_id++);
        Flush(c);
      }
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      TClient& c = *order[i - 1];
      const short revents = fds[i].revents;
      bool alive = true;
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !c.connection->Closing()) {
        char buffer[16384];
        const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
          c.last_read = now;
          c.connection->Receive(std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          alive = false;
        }
      } else if ((revents & (POLLHUP | POLLERR)) != 0) {
        alive = false;
      }
      if (alive) {
        if (c.connection->Waiting()) c.connection->Resume();
        alive = Flush(c);
      }
      if (alive && c.connection->Closing() && c.connection->Output().empty()) alive = false;
      if (alive && now - c.last_read > kIdleSeconds) alive = false;
      if (!alive) CloseClient(c, info);
    }
    clients.remove_if([](const TClient& c) { return !c.fd; });
  }
  for (TClient& c : clients) CloseClient(c, info);
  return 0;
}

}  // namespace vandrel::dictd
