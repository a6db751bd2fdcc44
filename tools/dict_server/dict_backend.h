// What the DICT gateway asks of the dictionaries it serves: their names and
// descriptions, definitions of a word, words that match a strategy, and a
// database's information text. TServiceBackend (service_backend.h) answers
// through the Vandrel service; TMemoryBackend (memory_backend.h) from words
// held in memory.
//
// Database names given to Define, Match and Info are "*" (all), "!" (the
// first database that has an answer) or a name from Databases(); the
// connection checks them before it asks. Texts are UTF-8; a definition's
// lines are separated by "\n".
#pragma once

#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/word_match.h"

namespace vandrel::dictd {

struct TDatabase {
  std::string Name;         // no spaces, unique
  std::string Description;  // one line
};

struct TDefinition {
  std::string Database;
  std::string Word;
  std::string Text;
};

struct TMatch {
  std::string Database;
  std::string Word;
};

class TDictBackend {
 public:
  virtual ~TDictBackend() = default;
  virtual const std::vector<TDatabase>& Databases() = 0;
  // Definitions in database order. Raises for a failure of the source.
  virtual std::vector<TDefinition> Define(const std::string& database, WideView word) = 0;
  // Matches in database order, each database's words in dictionary order.
  // Raises EMatchPattern for a pattern the strategy cannot read.
  virtual std::vector<TMatch> Match(const std::string& database, TMatchStrategy strategy,
                                    WideView word) = 0;
  virtual std::string Info(const std::string& database) = 0;
};

}  // namespace vandrel::dictd
