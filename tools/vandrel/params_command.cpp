// `vandrel params`: a dictionary's parameters, and setting its name, short
// name and description (one rewrite of the file for all three).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/date_time.h"
#include "tools/common/languages.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"
#include "tools/vandrel/json_output.h"

namespace vandrel::cli {
namespace {

const char kParamsUsage[] =
    "params DICT [--name TEXT] [--short-name TEXT] [--description TEXT] [--json]";

void PrintParams(client::TBaseClient& base) {
  const client::TBaseParams& p = base.Params();
  auto line = [](const char* key, const std::string& value) {
    std::printf("%-16s %s\n", key, value.c_str());
  };
  line("file:", tools::RenderPlain(base.GetFileName()));
  line("name:", tools::RenderRaw(p.Name));
  line("short name:", tools::RenderRaw(p.ShortName));
  line("description:", tools::RenderRaw(p.Description));
  line("words:", std::to_string(p.RecordCount));
  line("language:", tools::LanguageLabel(static_cast<std::uint16_t>(p.Language)));
  line("trans-language:", tools::LanguageLabel(static_cast<std::uint16_t>(p.TransLanguage)));
  line("version:", std::to_string(p.Version));
  line("created:", FormatDateTime(p.CreateTime));
  line("scrambled:", p.Scrambled ? "yes" : "no");
  line("compressed:", p.Compressed ? "yes" : "no");
  line("first chars:", tools::RenderPlain(p.FirstChars));
  line("chars:", tools::RenderPlain(p.LangChars));
}

Json ParamsJson(client::TBaseClient& base) {
  const client::TBaseParams& p = base.Params();
  return Json{{"file", JsonString(base.GetFileName())},
              {"name", JsonString(p.Name)},
              {"short_name", JsonString(p.ShortName)},
              {"description", JsonString(p.Description)},
              {"words", p.RecordCount},
              {"language", LanguageJson(static_cast<std::uint16_t>(p.Language))},
              {"trans_language", LanguageJson(static_cast<std::uint16_t>(p.TransLanguage))},
              {"version", p.Version},
              {"created", FormatDateTime(p.CreateTime)},
              {"scrambled", static_cast<bool>(p.Scrambled)},
              {"compressed", static_cast<bool>(p.Compressed)},
              {"first_chars", JsonString(p.FirstChars)},
              {"chars", JsonString(p.LangChars)}};
}

int RunParams(const std::vector<std::string>& args) {
  std::optional<std::string> name, short_name, description;
  const DictOptions o =
      ParseDictOptions(args, DictRules{0, true}, [&](const std::string& a, const auto& next) {
        if (a == "--name")
          name = next();
        else if (a == "--short-name")
          short_name = next();
        else if (a == "--description")
          description = next();
        else
          return 0;
        return 2;
      });
  if (o.positional.size() != 1 || !o.dictionaries.empty())
    throw DictUsageError{"expected one DICT"};
  // Converted before the service is asked anything.
  std::optional<WideString> wname, wshort, wdesc;
  if (name) wname = tools::Utf8ToWideOrThrow(*name);
  if (short_name) wshort = tools::Utf8ToWideOrThrow(*short_name);
  if (description) wdesc = tools::Utf8ToWideOrThrow(*description);

  DictSession session("vandrel params");
  client::TBaseClient& base = *session.Open({o.positional[0]}).front();
  if (wname || wshort || wdesc) {
    base.BeginParams();
    try {
      if (wname) base.SetName(*wname);
      if (wshort) base.SetShortName(*wshort);
      if (wdesc) base.SetDescription(*wdesc);
    } catch (...) {
      // The edit is closed either way; the first error is the one to see.
      try {
        base.EndParams();
      } catch (const std::exception&) {
      }
      throw;
    }
    // Writes the file; the new parameters arrive before it returns.
    base.EndParams();
  }
  if (o.json) {
    PrintJson(ParamsJson(base));
  } else {
    PrintParams(base);
  }
  return 0;
}

const CommandRegistration registration{Command{
    "params", kParamsUsage, "a dictionary's parameters; set its name, short name, description",
    [](const std::vector<std::string>& a) {
      return RunDictCommand("params", kParamsUsage, RunParams, a);
    }}};

}  // namespace
}  // namespace vandrel::cli
