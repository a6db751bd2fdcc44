// The base manager of vocabulary dictionaries: TVocabTable tables,
// TVocabBaseSet base sets and empty dictionary files built by the
// dictionary compiler. TVocabMan is the class the manager instantiates
// (object_model.h installs it).
#pragma once

#include "model/base_man.h"

namespace vandrel {

class TCustomVocabMan : public TBaseMan {
 public:
  using TBaseMan::TBaseMan;

  TVocabTable* CreateTable() override;
  TCustomBaseSet* CreateBaseSet() override;
  // Compiles a dictionary with no words at path (Language and
  // TransLanguage must be 16-bit language identifiers). A failure E is
  // raised as "CustomVocabMan.CreateBaseFile: " + E's message; a file that
  // is open as a base cannot be replaced and fails so.
  void CreateBaseFile(const std::string& path, std::int32_t language, std::int32_t trans_language,
                      bool scramble, bool compress) override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class TVocabMan : public TCustomVocabMan {
 public:
  using TCustomVocabMan::TCustomVocabMan;
  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

}  // namespace vandrel
