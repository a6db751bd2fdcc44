// The base set classes of vocabulary dictionaries: they create TBase bases
// and TVocabCursor cursors. TVocabBaseSet is the class the base manager
// instantiates.
#pragma once

#include "model/base_set.h"

namespace vandrel {

class TCustomVocabBaseSet : public TBaseSet {
 public:
  using TBaseSet::TBaseSet;

  // A TVocabCursor with one Positions entry of 0 per open base, moved to
  // the first word. A cursor whose first move fails is freed again.
  TCustomCursor* CreateCursor() override;
  // A TBase, not attached to a table.
  TCustomBase* CreateBase() override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

class TVocabBaseSet : public TCustomVocabBaseSet {
 public:
  using TCustomVocabBaseSet::TCustomVocabBaseSet;
  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

}  // namespace vandrel
