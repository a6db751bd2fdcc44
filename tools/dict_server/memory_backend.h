// TMemoryBackend: DICT databases held in memory, as (word, definition)
// pairs; for the command parser's fuzz target and for tests of the
// protocol that need no service.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/dict_server/dict_backend.h"

namespace vandrel::dictd {

class TMemoryBackend : public TDictBackend {
 public:
  // Adds a database; entries need not be sorted (UTF-16 words, UTF-8
  // definitions).
  void Add(const TDatabase& database, std::vector<std::pair<WideString, std::string>> entries);

  const std::vector<TDatabase>& Databases() override { return databases_; }
  std::vector<TDefinition> Define(const std::string& database, WideView word) override;
  std::vector<TMatch> Match(const std::string& database, TMatchStrategy strategy,
                            WideView word) override;
  std::string Info(const std::string& database) override;

 private:
  struct TData {
    std::vector<WideString> words;  // sorted by CompareWords
    std::vector<std::string> texts;
  };
  std::vector<TDatabase> databases_;
  std::vector<TData> data_;
};

}  // namespace vandrel::dictd
