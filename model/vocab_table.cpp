// TVocabTable: reference count, update count and parameters-changed
// handlers of a shared dictionary table.
#include "model/vocab_table.h"

namespace vandrel {

TVocabTable::TVocabTable(TNotifyObject* owner) : TDicTable(owner) {}

const TMessageTable& TVocabTable::MessageTable() {
  static const TMessageTable table("TVocabTable", &TDicTable::MessageTable(), {});
  return table;
}

void TVocabTable::Release() {
  if (--ref_count_ == 0) Free();
}

void TVocabTable::ParamsChanged() { CallEventHandlers(params_handlers_, this); }

}  // namespace vandrel
