// The dictd source, the format most free dictionaries are published in: an
// index file "NAME.index" and a data file "NAME.dict", or "NAME.dict.dz"
// (gzip; decompressed in-process, gzip_file.h).
//
// Index: UTF-8 text, one line per headword:
//
//   headword <TAB> offset <TAB> length [<TAB> ...]
//
// offset and length locate the definition in the data file, in bytes,
// written as numbers in base 64 with the digits A-Z a-z 0-9 + / (A = 0),
// most significant digit first. Several headwords may share a definition.
// Headwords that begin with "00-database-" or "00database" are the
// dictionary's own data: "short" gives the name and "info" the description.
//
// A definition becomes a translation of plain text: its line breaks become
// the line break U+000D, TAB and other control characters become spaces,
// and white space at both ends is dropped. Headwords lose white space at
// both ends. Text that is not valid UTF-8 is read as Latin-1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tools/common/source.h"

namespace vandrel::tools {

struct DictdFiles {
  std::string index;
  std::string data;  // ".dict" or ".dict.dz"
  std::string base;  // file name without folder and extension
};

// True for paths ending in ".index", ".dict" or ".dict.dz".
bool IsDictdPath(const std::string& path);
// The index and data files for any of NAME.index, NAME.dict, NAME.dict.dz;
// raises Exception when one of them is missing.
DictdFiles FindDictdFiles(const std::string& path);

// False for an empty number, a digit outside the alphabet, or a value that
// does not fit 48 bits.
bool DecodeDictdNumber(std::string_view digits, std::uint64_t& value);
// Definition bytes to a translation (see above).
WideString DictdDefinitionToMarkup(std::string_view bytes);
// The same into out (its memory reused).
void DictdDefinitionToMarkup(std::string_view bytes, WideString& out);
// DictdDefinitionToMarkup(bytes).size(), without building the text.
std::size_t DictdMarkupLength(std::string_view bytes);

// Raises ESourceFormat listing the first bad index lines (missing fields,
// bad numbers, a definition outside the data). The entries' definitions
// are left unconverted, pointing into data, which the Source keeps.
Source ParseDictdSource(std::string_view index, std::shared_ptr<const std::string> data,
                        const std::string& name);
// The same on a copy of data, every definition converted.
Source ParseDictdSource(std::string_view index, std::string_view data, const std::string& name);
// Reads the files (definitions left unconverted, as above); the word and translation languages are
// taken from a base name that ends in two language codes, as in "freedict-deu-eng".
Source ReadDictdSource(const std::string& path);

}  // namespace vandrel::tools
