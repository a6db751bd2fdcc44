// Registers the `vandrel dic` family and dispatches to its subcommands.
#include <cstdio>

#include "tools/vandrel/command.h"
#include "tools/vandrel/dic_commands.h"

namespace vandrel::cli {

const char kDicHelp[] =
    "usage: vandrel dic SUBCOMMAND ...\n"
    "\n"
    "  compile SOURCE OUTPUT.dic [options]  compile a dictionary (vandrel dic compile --help)\n"
    "  dump FILE.dic [-o OUT.tsv]           write every word and translation as the\n"
    "                                       tab-separated source; compiles back to an\n"
    "                                       equal dictionary\n"
    "  info [-v] FILE.dic                   header values and parameters; -v reads\n"
    "                                       every page and body and says where a\n"
    "                                       damaged file fails\n"
    "  lookup FILE.dic WORD... [--raw] [--color=auto|always|never]\n"
    "                                       exact match, or the nearest word, with its\n"
    "                                       translation (--raw: marks escaped as in\n"
    "                                       the source); exit code 1 when a word has\n"
    "                                       no exact match\n";

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
    "                         (en-ru.tsv, freedict-deu-eng.index), then en.\n"
    "  --name TEXT            parameter strings (default: the source's, then the\n"
    "  --short-name TEXT      output's file name)\n"
    "  --description TEXT\n"
    "  --scramble, --no-scramble    store pages scrambled (default: no)\n"
    "  --compress, --no-compress    store long translations compressed (default: no)\n"
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
    "are skipped), and characters the code page cannot hold are stored as \"?\".\n"
    "Characters of a translation that the two code pages cannot carry are\n"
    "stored as \"?\". Words that compare equal (case counts, accents do not: e\n"
    "and é are one word) become one entry: the first spelling is kept and the\n"
    "translations are joined by \"; \". Every such change is counted in the\n"
    "summary.\n"
    "\n"
    "Not supported yet: dictionaries whose words or translations are in Chinese,\n"
    "Japanese or Korean (double-byte code pages).\n";

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
    throw UsageError{"unknown subcommand '" + sub + "'"};
  } catch (const UsageError& e) {
    std::fprintf(stderr, "vandrel dic %s: %s\n\n%s", sub.c_str(), e.message.c_str(),
                 sub == "compile" ? kDicCompileHelp : kDicHelp);
    return 2;
  }
}

CommandRegistration registration({"dic", "dic compile|dump|info|lookup ...",
                                   "compile, dump, inspect dictionary files and look words up",
                                   RunDic});

}  // namespace
}  // namespace vandrel::cli
