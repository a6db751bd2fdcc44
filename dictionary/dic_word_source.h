// TDicWordSource: the words of an open dictionary table as a word source for
// the match strategies (word_match.h). It moves the table's one navigation
// state; a caller that shares the table puts it back afterwards.
#pragma once

#include "dictionary/dic_table.h"
#include "dictionary/word_match.h"

namespace vandrel {

class TDicWordSource : public TWordSource {
 public:
  // table: used, not owned; must stay open while the source is used.
  explicit TDicWordSource(TDicTable& table) : table_(table) {}
  void First() override;
  void Seek(WideView key) override;
  void SeekPast(WideView prefix) override;
  bool AtEnd() override { return at_end_; }
  WideView Word() override { return word_; }
  void Next() override;
  bool StepBack() override;

 private:
  void Load();
  bool OnLast() const { return table_.RecNo() >= table_.RecordCount() - 1; }

  TDicTable& table_;
  bool at_end_ = true;
  WideString word_;
};

}  // namespace vandrel
