// The dictionary table as a word source: seeks through the table's index,
// then a few steps to the exact place at primary strength.
#include "dictionary/dic_word_source.h"

namespace vandrel {

void TDicWordSource::Load() {
  if (at_end_)
    word_.clear();
  else
    word_ = table_.GetWord();
}

void TDicWordSource::First() {
  at_end_ = table_.RecordCount() == 0;
  if (!at_end_) table_.First();
  Load();
}

void TDicWordSource::Seek(WideView key) {
  at_end_ = table_.RecordCount() == 0;
  if (at_end_) return Load();
  // The table stops on the last word not greater than key by the full
  // order; words equal to key at primary strength (other letter case) may
  // lie before it, and the word itself may be smaller than key.
  table_.Seek(key);
  while (table_.RecNo() > 0) {
    table_.Prior();
    if (CompareWeighted(table_.GetWord(), key, kWeightPrimary) < 0) {
      table_.Next();
      break;
    }
  }
  Load();
  while (CompareWeighted(word_, key, kWeightPrimary) < 0) {
    Next();
    if (at_end_) break;
  }
}

void TDicWordSource::SeekPast(WideView prefix) {
  WideString key(prefix);
  key += GreatestChar();
  Seek(key);
  while (!at_end_ &&
         CompareWeighted(WideView(word_).substr(0, prefix.size()), prefix, kWeightPrimary) <= 0)
    Next();
}

void TDicWordSource::Next() {
  if (at_end_) return;
  if (OnLast()) {
    at_end_ = true;
  } else {
    table_.Next();
  }
  Load();
}

bool TDicWordSource::StepBack() {
  if (table_.RecordCount() == 0) return false;
  if (at_end_) {
    table_.Last();
    at_end_ = false;
  } else {
    if (table_.RecNo() == 0) return false;
    table_.Prior();
  }
  Load();
  return true;
}

}  // namespace vandrel
