// A hostile client: it sends requests to the service's manager window as
// fast as the service takes them and never reads a reply. Its requests are
// real ones (a ping, and a request with its own transfer buffer that the
// manager has no handler for), each naming another caller window so that
// the service keeps answer channels for callers that never existed. When
// the service drops its connection it connects again.
//
//   vandrel_deaf_peer SECONDS
//
// Prints "frames F drops D" (requests sent, connections the service
// dropped) and exits 0; 2 on a bad command line, 4 when there is no
// service.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/service_launcher.h"
#include "platform/endpoint.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"
#include "platform/window_entries.h"
#include "service/query_ids.h"
#include "service/transfer_man.h"

namespace vandrel::deafpeer {
namespace {

namespace detail = win::detail;

int Run(int seconds) {
  const win::HWND manager = client::FindManagerWindow();
  if (manager == 0) return 4;
  const std::string dir = win::RuntimeDir();
  const auto owner = detail::ReadWindowEntry(dir, manager);
  if (!owner) return 4;
  const std::string endpoint = detail::EndpointPath(dir, owner->endpoint);

  TTransferMan request;  // no items: the request carries an empty buffer
  request.ResetWrite();

  long frames = 0;
  long drops = 0;
  std::uint32_t sequence = 1;
  const win::DWORD start = win::GetTickCount();
  const auto limit = static_cast<win::DWORD>(seconds) * 1000;
  while (win::GetTickCount() - start < limit) {
    detail::UniqueFd fd;
    if (detail::ConnectTo(endpoint, &fd) != detail::ConnectOutcome::kConnected) return 4;
    detail::SetBlocking(fd.get(), true);
    for (;;) {
      if (win::GetTickCount() - start >= limit) break;
      const bool ping = sequence % 2 == 0;
      // Another made-up caller window every 64 requests.
      const win::HWND caller = 0x7F000000u + sequence / 64 % 4096;
      const detail::Frame frame{detail::FrameKind::kSend,
                                detail::ReplyStatus::kHandled,
                                sequence++,
                                manager,
                                ping ? QM_PING : QM_LAST,
                                caller,
                                ping ? 0 : request.BufferId()};
      if (detail::SendFrame(fd.get(), frame, /*wait=*/true) != detail::IoOutcome::kDone) {
        ++drops;  // the service let go of this connection
        break;
      }
      ++frames;
    }
  }
  std::printf("frames %ld drops %ld\n", frames, drops);
  return 0;
}

}  // namespace
}  // namespace vandrel::deafpeer

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vandrel_deaf_peer SECONDS\n");
    return 2;
  }
  const int seconds = std::atoi(argv[1]);
  if (seconds <= 0) return 2;
  return vandrel::deafpeer::Run(seconds);
}
