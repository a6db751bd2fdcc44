// The peer program of the container process tests: a second process that
// holds, opens or fills a container through the engine.
//
//   container_holder hold NAME READY RELEASE  create the engine file NAME,
//       write 10,000 bytes, create the file READY, then wait until the file
//       RELEASE exists (or until killed); close everything and exit 0
//   container_holder open NAME                open NAME; prints the engine
//       code (0 when it opened) and exits 0
//   container_holder fill NAME LIMIT          with the file size limit at
//       LIMIT bytes and SIGXFSZ ignored, create NAME and write 64 KiB pieces
//       until the engine refuses; prints "<code> <os error> <bytes written>"
//       and exits 0 when the refusal was an engine error
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "platform/window.h"

using namespace vandrel;
using namespace vandrel::engine;

namespace {

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

int Hold(const std::string& name, const std::string& ready, const std::string& release) {
  {
    TFileHandler f;
    f.Create(name);
    std::vector<std::uint8_t> bytes(10000, 0x5A);
    f.WriteAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    std::ofstream(ready) << "ready\n";
    while (!Exists(release)) win::Sleep(10);
  }
  TBaseList::Global().CloseAll();
  return 0;
}

int Open(const std::string& name) {
  int code = 0;
  try {
    TFileHandler f;
    f.Open(name);
  } catch (const EEngineError& e) {
    code = e.Code();
  }
  std::printf("%d\n", code);
  TBaseList::Global().CloseAll();
  return 0;
}

int Fill(const std::string& name, long long limit) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
  if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 3;
  std::vector<std::uint8_t> piece(65536, 0xC3);
  std::int64_t written = 0;
  int result = 1;
  try {
    TFileHandler f;
    f.SetTableName("Fill");
    f.Create(name);
    for (;;) {
      f.WriteAt(written, piece.data(), static_cast<std::int64_t>(piece.size()));
      written += static_cast<std::int64_t>(piece.size());
    }
  } catch (const EEngineError& e) {
    std::printf("%d %u %lld\n", e.Code(), e.Info().os_error, static_cast<long long>(written));
    result = 0;
  }
  TBaseList::Global().CloseAll();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 4 && a[0] == "hold") return Hold(a[1], a[2], a[3]);
  if (a.size() == 2 && a[0] == "open") return Open(a[1]);
  if (a.size() == 3 && a[0] == "fill") return Fill(a[1], std::stoll(a[2]));
  std::fprintf(stderr, "usage: container_holder hold|open|fill ...\n");
  return 2;
}
