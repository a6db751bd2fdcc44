// The vocabulary base set classes: concrete bases and cursors.
#include "model/vocab_base_set.h"

#include "model/base.h"
#include "model/vocab_cursor.h"
#include "platform/exceptions.h"

namespace vandrel {

const TMessageTable& TCustomVocabBaseSet::MessageTable() {
  static const TMessageTable table("TCustomVocabBaseSet", &TBaseSet::MessageTable(), {});
  return table;
}

const TMessageTable& TVocabBaseSet::MessageTable() {
  static const TMessageTable table("TVocabBaseSet", &TCustomVocabBaseSet::MessageTable(), {});
  return table;
}

TCustomCursor* TCustomVocabBaseSet::CreateCursor() {
  auto* cursor = new TVocabCursor(this);
  try {
    if (cursor->Handle() == 0) throw Exception("Cannot create the cursor's window");
    cursor->ResetBases(BaseList().Count());
    // Not linked yet: the first move tells nobody.
    cursor->MoveFirst();
  } catch (...) {
    cursor->Free();
    throw;
  }
  return cursor;
}

TCustomBase* TCustomVocabBaseSet::CreateBase() {
  auto* base = new TBase(this);
  if (base->Handle() == 0) {
    base->Free();
    throw Exception("Cannot create the base's window");
  }
  return base;
}

}  // namespace vandrel
