// What a dictionary source gives the compiler: entries (a word and its
// marked-up translation) in source order, and the header values and
// parameter strings that the source itself names. Both source readers
// (tsv_source.h, dictd_source.h) produce it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/charmap.h"
#include "platform/exceptions.h"

namespace vandrel::tools {

struct SourceEntry {
  WideString word;
  WideString trans;    // marked-up text
  std::uint32_t line;  // where the entry begins in the source (1-based)
  // A dictd definition not converted yet (dictd_source.h), in bytes held by
  // Source::data: when not empty, trans is empty and the translation is
  // DictdDefinitionToMarkup(definition) (TranslationOf, prepare.h). Such a
  // translation holds no marks.
  std::string_view definition = {};
};

struct SourceParams {
  std::optional<WideString> name;
  std::optional<WideString> short_name;
  std::optional<WideString> description;
  std::optional<std::uint16_t> language;
  std::optional<std::uint16_t> trans_language;
  std::optional<bool> scrambled;
  std::optional<bool> compressed;
};

struct Source {
  std::vector<SourceEntry> entries;
  SourceParams params;
  // The bytes the entries' definitions point into; whoever keeps entries
  // (or the prepared entries made of them) keeps this too.
  std::shared_ptr<const std::string> data;
};

// A source that cannot be read as its format; the message names the file
// and, where there is one, the line.
class ESourceFormat : public Exception {
 public:
  using Exception::Exception;
};

// The whole file as bytes; raises EOSError-style Exception on failure.
std::string ReadWholeFile(const std::string& path);

}  // namespace vandrel::tools
