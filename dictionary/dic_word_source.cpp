// The dictionary table as a word source: seeks through the table's index,
// then a few steps to the exact place at primary strength.
#include "dictionary/dic_word_source.h"

namespace vandrel {

void TDicWordSource::Load() {
  if (at_end_)
    word_.clear();
  else
    word_ = reader_.GetWord();
}

void TDicWordSource::First() {
  at_end_ = reader_.RecordCount() == 0;
  if (!at_end_) reader_.First();
  Load();
}

void TDicWordSource::Seek(WideView key) {
  at_end_ = reader_.RecordCount() == 0;
  if (at_end_) return Load();
  // The table stops on the last word not greater than key by the full
  // order; words equal to key at primary strength (other letter case) may
  // lie before it, and the word itself may be smaller than key.
  reader_.Seek(key);
  while (reader_.RecNo() > 0) {
    reader_.Prior();
    if (CompareWeighted(reader_.GetWord(), key, kWeightPrimary) < 0) {
      reader_.Next();
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
    reader_.Next();
  }
  Load();
}

bool TDicWordSource::StepBack() {
  if (reader_.RecordCount() == 0) return false;
  if (at_end_) {
    reader_.Last();
    at_end_ = false;
  } else {
    if (reader_.RecNo() == 0) return false;
    reader_.Prior();
  }
  Load();
  return true;
}

}  // namespace vandrel
