// `vandrel dic compile`: a source to a dictionary file.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>

#include "platform/exceptions.h"
#include "platform/utf8.h"
#include "tools/common/compile.h"
#include "tools/common/dictd_source.h"
#include "tools/common/language_guess.h"
#include "tools/common/languages.h"
#include "tools/common/prepare.h"
#include "tools/common/progress.h"
#include "tools/common/tsv_source.h"
#include "tools/vandrel/dic_commands.h"

namespace vandrel::cli {
namespace {

using tools::PrepareStats;

struct CompileArgs {
  std::string source;
  std::string output;
  std::string format;
  std::optional<std::uint16_t> language, trans_language;
  std::optional<WideString> name, short_name, description;
  std::optional<bool> scrambled, compressed;
  std::optional<std::size_t> dictionary_size;
  bool verbose = false;
  bool quiet = false;
  bool allow_empty = false;
  bool allow_loss = false;
};

CompileArgs ParseArgs(const Args& args) {
  CompileArgs a;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& o = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{o + " needs a value"};
      return args[++i];
    };
    try {
      if (o == "--format") {
        a.format = value();
        if (a.format != "tsv" && a.format != "dictd") throw UsageError{"--format is tsv or dictd"};
      } else if (o == "--lang") {
        a.language = tools::ParseLanguage(value());
      } else if (o == "--trans-lang") {
        a.trans_language = tools::ParseLanguage(value());
      } else if (o == "--name") {
        a.name = Utf8ToWideOrThrow(value());
      } else if (o == "--short-name") {
        a.short_name = Utf8ToWideOrThrow(value());
      } else if (o == "--description") {
        a.description = Utf8ToWideOrThrow(value());
      } else if (o == "--scramble" || o == "--no-scramble") {
        a.scrambled = o == "--scramble";
      } else if (o == "--compress" || o == "--no-compress") {
        a.compressed = o == "--compress";
      } else if (o == "--dictionary-size") {
        const std::string& v = value();
        std::size_t used = 0;
        const unsigned long n = std::stoul(v, &used);
        if (used != v.size() || n > 1024 * 1024 || (n != 0 && n < 1024))
          throw UsageError{"--dictionary-size is 0 or 1024 to 1048576 bytes"};
        a.dictionary_size = n;
      } else if (o == "--allow-empty") {
        a.allow_empty = true;
      } else if (o == "--allow-loss") {
        a.allow_loss = true;
      } else if (o == "-v" || o == "--verbose") {
        a.verbose = true;
      } else if (o == "-q" || o == "--quiet") {
        a.quiet = true;
      } else if (o == "-h" || o == "--help") {
        throw UsageError{"help"};
      } else if (o == "--") {
        positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
        break;
      } else if (o.size() > 1 && o[0] == '-') {
        throw UsageError{"unknown option " + o};
      } else {
        positional.push_back(o);
      }
    } catch (const UsageError&) {
      throw;
    } catch (const std::exception& e) {
      throw UsageError{e.what()};
    }
  }
  if (positional.size() != 2) throw UsageError{"expected SOURCE and OUTPUT.dic"};
  a.source = positional[0];
  a.output = positional[1];
  return a;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Id(std::uint16_t language) {
  char id[8];
  std::snprintf(id, sizeof id, "0x%04X", language);
  return id;
}

// Why a compile that would lose characters is refused, with examples and
// the language whose code page would keep them.
std::string LossMessage(const PrepareStats& stats, std::uint16_t language,
                        const std::string& source) {
  std::string m = std::to_string(stats.word_chars_replaced) + " of " +
                  std::to_string(stats.word_chars + stats.trans_chars) +
                  " characters would be stored as \"?\" (more than 1 in 1,000): the code page " +
                  std::to_string(LocaleToCodePage(language)) + " of the words' language " +
                  tools::LanguageShortLabel(language) + " (" + Id(language) + ") cannot hold them";
  for (const auto& n : stats.loss_examples)
    m += "\n  " + source + ":" + std::to_string(n.line) + ": " + n.text;
  tools::CodePageCounter counter;
  counter.Add(stats.lost);
  if (const auto best = counter.Best()) {
    const std::size_t held = counter.Held(
        static_cast<std::size_t>(std::find(tools::CodePageCounter::Languages().begin(),
                                           tools::CodePageCounter::Languages().end(), *best) -
                                 tools::CodePageCounter::Languages().begin()));
    m += "\n" + tools::LanguageShortLabel(*best) + " (" + Id(*best) + ") would hold " +
         std::to_string(held) + " of the " + std::to_string(stats.lost.size()) +
         " characters: --lang " + tools::LanguageShortName(*best) + " keeps them";
  }
  m += "\nnothing written; --allow-loss compiles anyway";
  return m;
}

}  // namespace

int DicCompile(const Args& args) {
  CompileArgs a;
  try {
    a = ParseArgs(args);
  } catch (const UsageError& e) {
    if (e.message == "help") {
      std::fputs(kDicCompileHelp, stdout);
      return 0;
    }
    throw;
  }
  const bool dictd = a.format.empty() ? tools::IsDictdPath(a.source) : a.format == "dictd";
  if (dictd) {
    const tools::DictdFiles files = tools::FindDictdFiles(a.source);
    tools::CheckOutputIsNotSource({files.index, files.data}, a.output);
  } else {
    tools::CheckOutputIsNotSource({a.source}, a.output);
  }
  tools::Source src = dictd ? tools::ReadDictdSource(a.source) : tools::ReadTsvSource(a.source);
  const std::string out_stem = std::filesystem::path(a.output).stem().string();

  tools::CompileSettings s;
  std::optional<std::pair<std::uint16_t, std::uint16_t>> named;
  if (!dictd) named = tools::LanguagesFromName(std::filesystem::path(a.source).stem().string());
  // An option, then a directive, then the file name; else the text decides.
  std::vector<std::string> chosen;
  const auto choose = [&](std::optional<std::uint16_t> option,
                          std::optional<std::uint16_t> directive,
                          std::optional<std::uint16_t> by_name, bool words) -> std::uint16_t {
    if (option) return *option;
    if (directive) return *directive;
    if (by_name) return *by_name;
    tools::CodePageCounter counter;
    WideString buffer;
    for (const tools::SourceEntry& e : src.entries)
      counter.Add(words ? WideView(e.word) : tools::TranslationOf(e, buffer));
    const std::uint16_t language = counter.Best().value_or(0x0409);
    char id[8];
    std::snprintf(id, sizeof id, "0x%04X", language);
    chosen.push_back(std::string(words ? "words: " : "translations: ") +
                     tools::LanguageShortLabel(language) + " (" + id + "), chosen from the text; " +
                     (words ? "--lang" : "--trans-lang") + " to change");
    return language;
  };
  s.language = choose(a.language, src.params.language,
                      named ? std::optional<std::uint16_t>(named->first) : std::nullopt, true);
  s.trans_language =
      choose(a.trans_language, src.params.trans_language,
             named ? std::optional<std::uint16_t>(named->second) : std::nullopt, false);
  tools::CheckDictionaryLanguage(s.language);
  tools::CheckDictionaryLanguage(s.trans_language);
  s.scrambled = a.scrambled.value_or(src.params.scrambled.value_or(false));
  s.compressed = a.compressed.value_or(src.params.compressed.value_or(false));
  if (a.dictionary_size) s.dictionary_capacity = *a.dictionary_size;
  s.short_name = a.short_name.value_or(src.params.short_name.value_or(Utf8ToWideOrThrow(out_stem)));
  s.name = a.name.value_or(src.params.name.value_or(s.short_name));
  s.description = a.description.value_or(src.params.description.value_or(WideString()));

  std::vector<std::string> notes;
  // A description that a dictd source carries (its licence text, often) is
  // cut to the page; one that the user wrote is never cut silently.
  std::ptrdiff_t room = tools::DescriptionRoom(s.name, s.short_name);
  if (dictd && !a.description && room >= 0 &&
      static_cast<std::ptrdiff_t>(s.description.size()) > room) {
    notes.push_back("description cut from " + std::to_string(s.description.size()) + " to " +
                    std::to_string(room) + " characters to fit the parameters page");
    s.description.resize(static_cast<std::size_t>(room));
  }

  // The body dictionary is trained on a sample meanwhile, on another core.
  std::future<std::string> trained;
  if (s.compressed && s.dictionary_capacity > 0) trained = tools::StartTraining(src.entries, s);
  tools::ProgressBar bar("preparing", !a.quiet);
  PrepareStats stats;
  std::vector<tools::PreparedEntry> entries =
      tools::PrepareEntries(std::move(src.entries), s.language, stats,
                            [&](std::size_t done, std::size_t total) { bar.Update(done, total); });
  if (entries.empty() && !a.allow_empty) {
    bar.Clear();
    throw Exception(
        stats.source_entries == 0
            ? a.source +
                  " holds no entries; nothing written (--allow-empty writes an empty dictionary)"
            : "every entry of " + a.source + " was skipped (" +
                  Plural(stats.source_entries, "entry", "entries") +
                  "); nothing written (--allow-empty writes an empty dictionary)");
  }
  // Translations keep every character (the codec escapes what neither code
  // page holds); words are stored in the word code page, and more than 1 in
  // 1,000 characters lost there means the language is wrong.
  const std::size_t total_chars = stats.word_chars + stats.trans_chars;
  if (!a.allow_loss && stats.word_chars_replaced > 0 &&
      stats.word_chars_replaced * 1000 > total_chars) {
    bar.Clear();
    throw Exception(LossMessage(stats, s.language, a.source));
  }
  if (trained.valid()) s.body_dictionary = trained.get();
  bar.SetLabel("compiling");
  const std::size_t words = entries.size();
  const TCompileReport report =
      tools::CompileEntries(std::move(entries), s, a.output,
                            [&](std::size_t done, std::size_t total) { bar.Update(done, total); });
  bar.Clear();

  if (!a.quiet) {
    std::error_code ec;
    auto size = std::filesystem::file_size(a.output, ec);
    std::printf(
        "%s: %s from %s (%s, %s -> %s)\n", a.output.c_str(), Plural(words, "word", "words").c_str(),
        Plural(stats.source_entries, "entry", "entries").c_str(),
        ec ? "?" : (std::to_string(size) + " bytes").c_str(),
        tools::LanguageLabel(s.language).c_str(), tools::LanguageLabel(s.trans_language).c_str());
    if (stats.merged) {
      std::printf("  %s merged into an earlier entry with an equal word\n",
                  Plural(stats.merged, "entry", "entries").c_str());
    }
    if (stats.skipped_length) {
      std::printf("  %s skipped: the word is empty or longer than 1024 bytes\n",
                  Plural(stats.skipped_length, "entry", "entries").c_str());
    }
    if (stats.words_changed) {
      std::printf(
          "  %s changed by the word code page %u (characters it cannot hold stored as \"?\")\n",
          Plural(stats.words_changed, "word", "words").c_str(), LocaleToCodePage(s.language));
    }
    if (report.escapes) {
      std::printf("  %s of %s kept as escapes (neither code page holds them; 3 bytes each)\n",
                  Plural(report.escapes, "character", "characters").c_str(),
                  Plural(report.bodies_with_escapes, "translation", "translations").c_str());
    }
    for (const auto& c : chosen) std::printf("  %s\n", c.c_str());
    for (const auto& n : notes) std::printf("  %s\n", n.c_str());
    if (a.verbose) {
      for (const auto& n : stats.notes)
        std::printf("  %s:%u: %s\n", a.source.c_str(), n.line, n.text.c_str());
    }
  }
  return 0;
}

}  // namespace vandrel::cli
