// `vandrel dict-server`: serves the service's dictionaries to DICT protocol
// clients (tools/dict_server).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dict_server/dict_server.h"
#include "tools/dict_server/service_backend.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"

namespace vandrel::cli {
namespace {

const char kUsage[] = "dict-server [--listen ADDR:PORT] [-d DICT]...";

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

void Ready(int port) {
  std::printf("listening on port %d\n", port);
  std::fflush(stdout);
}

int RunDictServerCommand(const std::vector<std::string>& args) {
  dictd::TListenAddress address;
  const DictOptions options =
      ParseDictOptions(args, [&](const std::string& a, const std::function<std::string()>& next) {
        if (a != "--listen") return 0;
        std::string error;
        if (!dictd::ParseListenAddress(next(), address, error)) throw DictUsageError{error};
        return 2;
      });
  if (!options.positional.empty()) throw DictUsageError{"unexpected " + options.positional[0]};
  std::vector<std::string> files;
  for (const std::string& d : options.dictionaries) files.push_back(DictionaryFileName(d));
  dictd::TServiceBackend backend(files);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  return dictd::RunDictServer(backend, address, g_stop, Ready);
}

const CommandRegistration registration{
    Command{"dict-server", kUsage,
            "serve the dictionaries to DICT protocol clients (default 127.0.0.1:2628)",
            [](const std::vector<std::string>& a) {
              return RunDictCommand("dict-server", kUsage, RunDictServerCommand, a);
            }}};

}  // namespace
}  // namespace vandrel::cli
