// What the dictionary commands of `vandrel` (lookup, find, words, list,
// params, create, delete) share: a session with the service - the
// connection (found, or started like by any client), the base manager, one
// base set with the chosen dictionaries open - their common options, and
// how they print translations and the service's errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/service_connection.h"
#include "dictionary/charmap.h"
#include "tools/common/render.h"

namespace vandrel::cli {

// A bad command line: the command prints the message and its usage and
// exits with 2.
struct DictUsageError {
  std::string message;
};

// Options that several commands take.
struct DictOptions {
  std::vector<std::string> dictionaries;  // -d NAME, repeatable
  bool raw = false;                       // --raw
  bool json = false;                      // --json (where the command has it)
  std::string color = "auto";             // --color=auto|always|never
  std::vector<std::string> positional;    // everything that is no option
};

// What a command accepts besides -d, --raw and --color.
struct DictRules {
  // How many words (or names) the command expects: a lone argument such as
  // "-able" is one of them rather than an unknown option (arguments.h).
  std::size_t words = 0;
  bool json = false;  // --json
};

using ExtraOption =
    std::function<int(const std::string& arg, const std::function<std::string()>& next)>;

// Parses -d NAME, --raw, --color=..., --json (when the rules allow it) and
// "--", after which everything is positional; extra(arg, next) handles the
// command's own options: it returns the number of arguments it took (1 or
// 2, calling next() for the second), 0 when the option is not its own.
// Unknown options raise DictUsageError.
DictOptions ParseDictOptions(const std::vector<std::string>& args, const DictRules& rules,
                             const ExtraOption& extra = nullptr);
DictOptions ParseDictOptions(const std::vector<std::string>& args,
                             const ExtraOption& extra = nullptr);

// "EnRu" and "EnRu.dic" both name EnRu.dic; any other extension is kept.
std::string DictionaryFileName(const std::string& name);

class DictSession {
 public:
  // Finds or starts the service and makes a base set. client_name is how
  // the service knows this client ("vandrel lookup").
  explicit DictSession(const std::string& client_name);
  // Closes the base set (cursors, bases), then disconnects; errors are
  // dropped, as the command has already reported its own.
  ~DictSession();
  DictSession(const DictSession&) = delete;
  DictSession& operator=(const DictSession&) = delete;

  client::TBaseSetClient& Set() { return *set_; }

  // Opens the named dictionaries (DictionaryFileName), in the order given;
  // errors are raised. With no names, every file of the dictionary folder
  // in name order; a file that cannot be opened is reported on standard
  // error and skipped. Returns the bases opened.
  std::vector<client::TBaseClient*> Open(const std::vector<std::string>& names);

  // The label of a base in listings: its short name, else its file name
  // without ".dic".
  static std::string Label(client::TBaseClient& base);

 private:
  // Destroyed in reverse order: the set before the base manager before the
  // connection.
  std::unique_ptr<client::TServiceConnection> connection_;
  TOwnedPtr<client::TBaseManClient> base_man_;
  TOwnedPtr<client::TBaseSetClient> set_;
};

// Render options for standard output from --color.
tools::RenderOptions OutputRenderOptions(const DictOptions& options);
// A translation as the options ask: rendered for the terminal, or --raw.
std::string ShowTranslation(WideView trans, const DictOptions& options,
                            const tools::RenderOptions& render);

// Exit status of a dictionary command whose service did not answer within
// its time limit or ended while answering.
constexpr int kExitServiceUnavailable = 3;

// Runs a dictionary command: its usage errors print the usage (exit 2);
// the service's errors print the service's text and code, other errors
// their text (exit 1); a service that does not answer in time or ends
// while answering exits with kExitServiceUnavailable. Errors go to standard
// error only, also with --json.
int RunDictCommand(const char* name, const char* usage,
                   const std::function<int(const std::vector<std::string>&)>& command,
                   const std::vector<std::string>& args);

}  // namespace vandrel::cli
