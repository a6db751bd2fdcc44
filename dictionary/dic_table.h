// TDicTable: a dictionary file (dic_file.h) with one reader position
// (dic_reader.h) of its own, for programs that read one file from start to
// end or look words up in it alone (tools, tests, benchmarks). Objects that
// share a file between readers keep a TDicFile and a TDicReader per reader
// instead.
//
// Typical use:
//   TDicTable table;
//   table.FileName = "Dic/english.dic";
//   table.Open();
//   for (table.First(); !table.Eof(); table.Next())   // N = 0: Eof at once
//     use(table.GetWord(), table.GetTrans());
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dictionary/charmap.h"
#include "dictionary/dic_file.h"
#include "dictionary/dic_reader.h"

namespace vandrel {

class TDicTable {
 public:
  TDicTable() = default;
  TDicTable(const TDicTable&) = delete;
  TDicTable& operator=(const TDicTable&) = delete;

  // Path of the dictionary file; set before Open.
  std::string FileName;

  // Maps and checks FileName (TDicFile::Open, with its errors); nothing
  // when already open. Puts the position on record 0.
  void Open();
  // Lets go of the file; nothing when closed. A closed table has no
  // records: navigation does nothing, GetWord and GetTrans give "".
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // The open file (null when closed).
  const std::shared_ptr<const TDicFile>& File() const { return file_; }
  const TDicFile& RequireFile() const;

  // Header values of the open file (0 or false once closed).
  std::int32_t RecordCount() const { return file_ ? file_->RecordCount() : 0; }
  std::uint32_t Version() const { return file_ ? file_->Version() : 0; }
  std::uint16_t Language() const { return file_ ? file_->Language() : 0; }
  std::uint16_t TransLanguage() const { return file_ ? file_->TransLanguage() : 0; }
  double CreateTime() const { return file_ ? file_->CreateTime() : 0; }
  bool Scrambled() const { return file_ ? file_->Scrambled() : false; }
  bool Compressed() const { return file_ ? file_->Compressed() : false; }
  std::uint32_t PageSize() const { return file_ ? file_->PageSize() : 0; }
  std::uint32_t LayerCount() const { return file_ ? file_->LayerCount() : 0; }
  std::uint32_t BodyLength() const { return file_ ? file_->BodyLength() : 0; }
  std::int64_t FileSize() const { return file_ ? file_->FileSize() : 0; }
  WideString FirstChars() const { return file_ ? file_->FirstChars() : WideString(); }
  WideString LangChars() const { return file_ ? file_->LangChars() : WideString(); }
  // The parameter strings; "File %s is not base" when closed.
  WideString GetName() const { return RequireFile().GetName(); }
  WideString GetShortName() const { return RequireFile().GetShortName(); }
  WideString GetDescription() const { return RequireFile().GetDescription(); }

  // The table's own position.
  TDicReader& Reader() { return reader_; }
  void First() { reader_.First(); }
  void Last() { reader_.Last(); }
  void Next() { reader_.Next(); }
  void Prior() { reader_.Prior(); }
  void SetRecNo(std::int32_t value) { reader_.SetRecNo(value); }
  std::int32_t RecNo() const { return reader_.RecNo(); }
  std::int32_t PageNo() const { return reader_.PageNo(); }
  std::int32_t ItemNo() const { return reader_.ItemNo(); }
  bool Bof() const { return reader_.Bof(); }
  bool Eof() const { return reader_.Eof(); }
  bool Seek(WideView key) { return reader_.Seek(key); }
  bool FindExact(WideView key) { return reader_.FindExact(key); }
  void FindNearest(WideView key) { reader_.FindNearest(key); }
  WideString GetWord() { return reader_.GetWord(); }
  WideString GetTrans() const { return reader_.GetTrans(); }
  std::string GetEncodedBody() const { return reader_.GetEncodedBody(); }
  const std::uint8_t* PageAddress(std::uint32_t offset) const {
    return RequireFile().PageAddress(offset);
  }

 private:
  std::shared_ptr<const TDicFile> file_;
  TDicReader reader_;
};

}  // namespace vandrel
