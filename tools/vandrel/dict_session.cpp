// The dictionary commands' session with the service, options and output.
#include "tools/vandrel/dict_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "client/service_error.h"
#include "platform/console.h"
#include "platform/exceptions.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/arguments.h"

namespace vandrel::cli {
namespace {

// ASCII letters without case: the service matches file names so.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto low = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return low(x) < low(y);
  });
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != tail[i]) return false;
  }
  return true;
}

// The service's texts may hold line breaks (\r\n) and, from a hostile or
// damaged file, other control characters: only \n reaches the terminal.
std::string PrintableError(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += '\n';
    } else if (c < 0x20 && c != '\n' && c != '\t') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

DictOptions ParseDictOptions(const std::vector<std::string>& args, const DictRules& rules,
                             const ExtraOption& extra) {
  DictOptions o;
  PositionalArgs positional;
  const auto unknown = [](const std::string& a) { throw DictUsageError{"unknown option " + a}; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= args.size()) throw DictUsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "-d" || a == "--dictionary") {
      o.dictionaries.push_back(next());
    } else if (a == "--raw") {
      o.raw = true;
    } else if (a == "--json" && rules.json) {
      o.json = true;
    } else if (a.rfind("--color=", 0) == 0) {
      o.color = a.substr(8);
      if (o.color != "auto" && o.color != "always" && o.color != "never") {
        throw DictUsageError{"--color is auto, always or never"};
      }
    } else if (a == "--") {
      for (std::size_t k = i + 1; k < args.size(); ++k) positional.Add(args[k]);
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      if (!extra || extra(a, next) == 0) positional.AddUnknown(a, unknown);
    } else {
      positional.Add(a);
    }
  }
  o.positional = positional.Take(rules.words, unknown);
  return o;
}

DictOptions ParseDictOptions(const std::vector<std::string>& args, const ExtraOption& extra) {
  return ParseDictOptions(args, DictRules{}, extra);
}

std::string DictionaryFileName(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.find('.') == std::string::npos) return name + ".dic";
  return name;
}

DictSession::DictSession(const std::string& client_name) {
  client::TClientOptions options;
  options.Name = client_name;
  connection_ = std::make_unique<client::TServiceConnection>(options);
  base_man_.reset(new client::TBaseManClient(connection_->BaseManWindow()));
  set_ = base_man_->NewBaseSet();
}

DictSession::~DictSession() {
  try {
    set_->Close();
  } catch (const std::exception&) {
  }
}

std::vector<client::TBaseClient*> DictSession::Open(const std::vector<std::string>& names) {
  std::vector<client::TBaseClient*> opened;
  if (!names.empty()) {
    for (const std::string& n : names) {
      opened.push_back(&set_->OpenBase(tools::Utf8ToWideOrThrow(DictionaryFileName(n))));
    }
    return opened;
  }
  std::vector<std::string> files;
  for (const auto& f : set_->ListFiles()) files.push_back(tools::WideToUtf8(f));
  std::sort(files.begin(), files.end(), LessNoCase);
  for (const std::string& f : files) {
    try {
      opened.push_back(&set_->OpenBase(tools::Utf8ToWideOrThrow(f)));
    } catch (const client::EServiceUnavailable&) {
      throw;
    } catch (const client::EServiceError& e) {
      std::fprintf(stderr, "skipped %s: %s (error %d)\n",
                   tools::RenderPlain(tools::Utf8ToWideOrThrow(f)).c_str(),
                   PrintableError(e.Text()).c_str(), e.Code());
    }
  }
  if (opened.empty() && !files.empty())
    throw Exception("none of the " + std::to_string(files.size()) +
                    " dictionaries of the folder could be opened (see the lines above)");
  return opened;
}

std::string DictSession::Label(client::TBaseClient& base) {
  if (!base.Params().ShortName.empty()) return tools::RenderPlain(base.Params().ShortName);
  std::string file = tools::RenderPlain(base.GetFileName());
  if (EndsWithNoCase(file, ".dic")) file.resize(file.size() - 4);
  return file;
}

tools::RenderOptions OutputRenderOptions(const DictOptions& options) {
  tools::RenderOptions ro;
  ro.ansi = options.color == "always" ||
            (options.color == "auto" && win::IsConsoleStream(win::STD_OUTPUT_HANDLE));
  return ro;
}

std::string ShowTranslation(WideView trans, const DictOptions& options,
                            const tools::RenderOptions& render) {
  return options.raw ? tools::RenderRaw(trans) : tools::RenderTranslation(trans, render);
}

int RunDictCommand(const char* name, const char* usage,
                   const std::function<int(const std::vector<std::string>&)>& command,
                   const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("usage: vandrel %s\n", usage);
    std::printf("\n\"--\" ends the options.%s\n",
                std::string(usage).find("--json") != std::string::npos
                    ? " --json: one JSON document on standard output (vandrel help json)."
                    : "");
    return 0;
  }
  try {
    return command(args);
  } catch (const DictUsageError& e) {
    std::fprintf(stderr, "vandrel %s: %s\nusage: vandrel %s\n", name, e.message.c_str(), usage);
    return 2;
  } catch (const client::EServiceUnavailable& e) {
    // The service did not answer in time or ended: not an answer about words.
    std::fprintf(stderr, "vandrel %s: %s\n", name, PrintableError(e.Text()).c_str());
    return kExitServiceUnavailable;
  } catch (const client::EServiceError& e) {
    std::fprintf(stderr, "vandrel %s: %s (error %d)\n", name, PrintableError(e.Text()).c_str(),
                 e.Code());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel %s: %s\n", name, PrintableError(e.what()).c_str());
    return 1;
  }
}

}  // namespace vandrel::cli
