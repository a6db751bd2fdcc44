// Message tables of the vocabulary cursor classes.
#include "model/vocab_cursor.h"

#include "model/cursor_match.h"

namespace vandrel {

const TMessageTable& TCustomVocabCursor::MessageTable() {
  static const TMessageTable table("TCustomVocabCursor", &TCursor::MessageTable(), {});
  return table;
}

const TMessageTable& TVocabCursor::MessageTable() {
  static const TMessageTable table("TVocabCursor", &TCustomVocabCursor::MessageTable(),
                                   {{CR_MATCH, &TVocabCursor::CrMatch}});
  return table;
}

}  // namespace vandrel
