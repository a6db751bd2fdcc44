// Writing prepared entries (prepare.h) into a dictionary file with the
// vocabulary compiler, under a temporary name that replaces the target only
// when the file is complete. The temporary file is created new (never
// through an existing name or link) beside the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "dictionary/vocab_compiler.h"
#include "tools/common/prepare.h"

namespace vandrel::tools {

struct CompileSettings {
  std::uint16_t language = 0x0409;
  std::uint16_t trans_language = 0x0409;
  bool scrambled = false;
  bool compressed = false;
  // Largest trained body dictionary of a compressed file (0: none, codec 1).
  std::size_t dictionary_capacity = 112 * 1024;
  // The body dictionary of a compressed file, trained already (StartTraining;
  // empty bytes: none, codec 1); unset: trained on a sample of the entries
  // before they are compiled.
  std::optional<std::string> body_dictionary;
  WideString name;
  WideString short_name;
  WideString description;
};

// Characters of description that fit the parameters page beside name and
// short name (negative: name and short name alone do not fit).
std::ptrdiff_t DescriptionRoom(WideView name, WideView short_name);

// Raises Exception when output names one of the source files, directly or
// through links ("OUTPUT is the source SOURCE: ..."); nothing is read or
// written then.
void CheckOutputIsNotSource(const std::vector<std::string>& sources, const std::string& output);

// Trains the body dictionary of a compressed file on another thread, on
// translations spread over entries (about TVocabCompiler::kTrainingBytes of
// them, taken now), while the caller prepares the same entries; get() gives
// what CompileSettings::body_dictionary takes. Merging entries with equal
// words changes little of what a sample holds.
std::future<std::string> StartTraining(const std::vector<SourceEntry>& entries,
                                       const CompileSettings& settings);

// Compiles entries (in CompareWords order, no two equal) into path. Raises
// Exception when name, short name and description do not fit the
// parameters page, and passes on the compiler's errors; on any failure the
// temporary file is removed and an existing file at path is left as it was.
// Each entry's word bytes and translation are handed to the compiler as
// they are (no second conversion); returns what the compiler reports.
TCompileReport CompileEntries(std::vector<PreparedEntry> entries, const CompileSettings& settings,
                              const std::string& path, const ProgressFn& progress = nullptr);

}  // namespace vandrel::tools
