// The vocabulary base manager: its tables, base sets and new files.
#include "model/vocab_man.h"

#include <exception>

#include "dictionary/vocab_compiler.h"
#include "model/vocab_base_set.h"
#include "model/vocab_table.h"
#include "platform/exceptions.h"

namespace vandrel {

const TMessageTable& TCustomVocabMan::MessageTable() {
  static const TMessageTable table("TCustomVocabMan", &TBaseMan::MessageTable(), {});
  return table;
}

const TMessageTable& TVocabMan::MessageTable() {
  static const TMessageTable table("TVocabMan", &TCustomVocabMan::MessageTable(), {});
  return table;
}

TVocabTable* TCustomVocabMan::CreateTable() { return new TVocabTable(this); }

TCustomBaseSet* TCustomVocabMan::CreateBaseSet() {
  auto* set = new TVocabBaseSet(this);
  if (set->Handle() == 0) {
    set->Free();
    throw Exception("Cannot create the base set's window");
  }
  return set;
}

void TCustomVocabMan::CreateBaseFile(const std::string& path, std::int32_t language,
                                     std::int32_t trans_language, bool scramble, bool compress) {
  try {
    if (language < 0 || language > 0xFFFF)
      throw Exception("Invalid language " + std::to_string(language));
    if (trans_language < 0 || trans_language > 0xFFFF)
      throw Exception("Invalid language " + std::to_string(trans_language));
    TVocabCompiler compiler;
    compiler.SetLanguage(static_cast<std::uint16_t>(language));
    compiler.SetTransLanguage(static_cast<std::uint16_t>(trans_language));
    compiler.SetScrambled(scramble);
    compiler.SetCompressed(compress);
    compiler.BeginCompile(path);
    compiler.EndCompile();
  } catch (const std::exception& e) {
    throw Exception(std::string("CustomVocabMan.CreateBaseFile: ") + e.what());
  }
}

}  // namespace vandrel
