// Registers the `vandrel dic` family and dispatches to its subcommands.
#include <cstdio>

#include "tools/vandrel/command.h"
#include "tools/vandrel/dic_commands.h"

namespace vandrel::cli {

const char kDicHelp[] =
    "usage: vandrel dic SUBCOMMAND ...\n"
    "\n"
    "  compile SOURCE OUTPUT.dic [options]  compile a dictionary (vandrel dic compile --help)\n"
    "  install SOURCE [--as NAME] [--force] [compile options]\n"
    "                                       compile into the user's dictionary folder\n"
    "                                       (vandrel dic install --help)\n"
    "  dump FILE.dic [-o OUT.tsv]           write every word and translation as the\n"
    "                                       tab-separated source; compiles back to an\n"
    "                                       equal dictionary\n"
    "  info FILE.dic [--json] [-v]          header values and parameters; -v reads\n"
    "                                       every page and body and says where a\n"
    "                                       damaged file fails\n"
    "  lookup FILE.dic WORD... [--raw] [--json] [--color=auto|always|never]\n"
    "                                       exact match, or the nearest word, with its\n"
    "                                       translation (--raw: marks escaped as in\n"
    "                                       the source); exit code 1 when a word has\n"
    "                                       no exact match\n"
    "\n"
    "\"--\" ends the options; a word beginning with \"-\" that is no option is\n"
    "taken as a word (dic lookup F.dic -able).\n"
    "--json: one JSON document on standard output (vandrel help json).\n";

const char kDicCompileHelp[] =
    "usage: vandrel dic compile SOURCE OUTPUT.dic [options]\n"
    "\n"
    "SOURCE is a tab-separated file (UTF-8), or a dictd dictionary given by its\n"
    "NAME.index, NAME.dict or NAME.dict.dz.\n"
    "\n"
    "options:\n"
    "  --format tsv|dictd     source format (default: by the file name)\n"
    "  --lang L               language of the words\n"
    "  --trans-lang L         language of the translations\n"
    "                         L: a code such as en, ru, de, deu, or an identifier\n"
    "                         such as 0x0409 or 1033. Default: the source's\n"
    "                         directives, then a file name ending in two codes\n"
    "                         (en-ru.tsv, freedict-deu-eng.index), then the\n"
    "                         text: the language whose code page holds most of\n"
    "                         its characters (printed in the summary).\n"
    "  --name TEXT            parameter strings (default: the source's, then the\n"
    "  --short-name TEXT      output's file name)\n"
    "  --description TEXT\n"
    "  --scramble, --no-scramble    store pages scrambled (default: no)\n"
    "  --compress, --no-compress    store long translations compressed (default: no)\n"
    "  --dictionary-size BYTES  largest body dictionary a compressed file trains on\n"
    "                         its translations (default 114688; 0: none, every\n"
    "                         translation compressed alone)\n"
    "  --allow-loss           compile even when more than 1 in 1,000 characters\n"
    "                         would be stored as \"?\" (refused otherwise)\n"
    "  --allow-empty          write a dictionary without words when the source\n"
    "                         has none left (refused otherwise)\n"
    "  -v, --verbose          list the first entries of each kind that were\n"
    "                         skipped or changed\n"
    "  -q, --quiet            no summary, no progress bar\n"
    "\n"
    "Tab-separated source: one entry a line, the word, a TAB, the marked-up\n"
    "translation. Lines starting with # are comments; #!name, #!short-name,\n"
    "#!description, #!language, #!trans-language, #!scrambled and #!compressed,\n"
    "followed by a TAB and the value, set the dictionary's values.\n"
    "Escapes in words and translations:\n"
    "  \\1 .. \\9   marks 1 to 9 (1-3 argument, 4 character, 5-8 translation span,\n"
    "             9 text in the words' language)\n"
    "  \\b         mark 11 (block)      \\f   mark 12 (raw span)\n"
    "  \\n         line break (U+000D)  \\\\   backslash\n"
    "  \\#         # at the start of a word\n"
    "  \\xHH       any other character up to U+00FF\n"
    "\n"
    "The entries are sorted into dictionary order. Words are stored in the code\n"
    "page of the word language: a word must take 1 to 1024 bytes there (others\n"
    "are skipped), and characters the code page cannot hold are stored as \"?\";\n"
    "when more than 1 in 1,000 characters would be, nothing is written unless\n"
    "--allow-loss. Translations keep every character: one that neither code\n"
    "page holds is stored in 3 bytes instead of 1. Words that compare equal (case counts, accents "
    "do not: e\n"
    "and é are one word) become one entry: the first spelling is kept and the\n"
    "translations are joined by \"; \". Every such change is counted in the\n"
    "summary.\n"
    "\n"
    "Not supported yet: dictionaries whose words or translations are in Chinese,\n"
    "Japanese or Korean (double-byte code pages).\n";

const char kDicInstallHelp[] =
    "usage: vandrel dic install SOURCE [--as NAME] [--force] [compile options]\n"
    "\n"
    "Compiles SOURCE (as vandrel dic compile does) into NAME.dic in the folder that\n"
    "the service serves: the user's folder $XDG_DATA_HOME/vandrel/dic (else\n"
    "~/.local/share/vandrel/dic, created with mode 0700 when missing), or in a\n"
    "build tree \"Dic\" beside the programs. A service that already runs on the\n"
    "installed samples sees the new folder from its next start.\n"
    "\n"
    "  --as NAME   the dictionary's file name without .dic (default: the source's\n"
    "              file name without its extensions)\n"
    "  --force     replace an existing dictionary of that name\n";

namespace {

int RunDic(const Args& args) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kDicHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  Args rest(args.begin() + 1, args.end());
  const std::string& sub = args[0];
  try {
    if (sub == "compile") return DicCompile(rest);
    if (sub == "dump") return DicDump(rest);
    if (sub == "info") return DicInfo(rest);
    if (sub == "lookup") return DicLookup(rest);
    if (sub == "install") return DicInstall(rest);
    throw UsageError{"unknown subcommand '" + sub + "'"};
  } catch (const UsageError& e) {
    std::fprintf(stderr, "vandrel dic %s: %s\n\n%s", sub.c_str(), e.message.c_str(),
                 sub == "compile"   ? kDicCompileHelp
                 : sub == "install" ? kDicInstallHelp
                                    : kDicHelp);
    return 2;
  }
}

CommandRegistration registration({"dic", "dic compile|install|dump|info|lookup ...",
                                  "compile, dump, inspect dictionary files and look words up",
                                  RunDic});

}  // namespace
}  // namespace vandrel::cli
