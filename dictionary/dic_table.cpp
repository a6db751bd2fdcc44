// A dictionary file with one position of its own.
#include "dictionary/dic_table.h"

#include "platform/exceptions.h"

namespace vandrel {

void TDicTable::Open() {
  if (IsOpen()) return;
  file_ = TDicFile::Open(FileName);
  reader_ = TDicReader(file_);
}

void TDicTable::Close() {
  reader_ = TDicReader();
  file_.reset();
}

const TDicFile& TDicTable::RequireFile() const {
  if (!file_) throw Exception("File " + FileName + " is not base");
  return *file_;
}

}  // namespace vandrel
