// TDicWordSource: the words of a dictionary file as a word source for the
// match strategies (word_match.h), read through a reader position of its
// own (dic_reader.h), so that it never moves anybody else's.
#pragma once

#include "dictionary/dic_reader.h"
#include "dictionary/word_match.h"

namespace vandrel {

class TDicWordSource : public TWordSource {
 public:
  // A position of its own on file (which it keeps mapped).
  explicit TDicWordSource(std::shared_ptr<const TDicFile> file) : reader_(std::move(file)) {}
  void First() override;
  void Seek(WideView key) override;
  void SeekPast(WideView prefix) override;
  bool AtEnd() override { return at_end_; }
  WideView Word() override { return word_; }
  void Next() override;
  bool StepBack() override;

 private:
  void Load();
  bool OnLast() const { return reader_.RecNo() >= reader_.RecordCount() - 1; }

  TDicReader reader_;
  bool at_end_ = true;
  WideString word_;
};

}  // namespace vandrel
