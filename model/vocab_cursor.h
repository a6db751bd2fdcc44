// The cursor classes that a vocabulary base set creates. They add nothing
// to TCursor; they exist so that the vocabulary classes can choose them.
#pragma once

#include "model/cursor.h"

namespace vandrel {

class TCustomVocabCursor : public TCursor {
 public:
  using TCursor::TCursor;
  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class TVocabCursor : public TCustomVocabCursor {
 public:
  using TCustomVocabCursor::TCustomVocabCursor;
  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void CrMatch(TMessage& message);  // model/cursor_match.h
};

}  // namespace vandrel
