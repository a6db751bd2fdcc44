// Table components.
#include "dataset/engine_table.h"

#include "dataset/engine_session.h"
#include "platform/exceptions.h"

namespace vandrel::dataset {

TEngineTable::~TEngineTable() {
  try {
    Close();
  } catch (...) {
  }
}

engine::TDataCursor& TEngineTable::C() const {
  if (!cursor_) throw Exception("Cannot perform this operation on a closed dataset");
  return *cursor_;
}

void TEngineTable::Open() {
  if (cursor_) return;
  TEngineSession& s = TEngineSession::Default();
  engine::TDataDirectory& dir = s.OpenDatabase(DatabaseName);
  auto cursor = std::make_unique<engine::TDataCursor>(dir);
  try {
    cursor->Open(TableName, Exclusive, ReadOnly);
    cursor->SetIndexFieldNames(IndexFieldNames);
    cursor->First();
  } catch (...) {
    cursor.reset();
    s.CloseDatabase(dir);
    throw;
  }
  dir_ = &dir;
  cursor_ = std::move(cursor);
}

void TEngineTable::Close() {
  if (!cursor_) return;
  std::unique_ptr<engine::TDataCursor> cursor = std::move(cursor_);
  engine::TDataDirectory* dir = dir_;
  dir_ = nullptr;
  try {
    cursor->Close();
  } catch (...) {
    cursor.reset();
    TEngineSession::Default().CloseDatabase(*dir);
    throw;
  }
  cursor.reset();
  TEngineSession::Default().CloseDatabase(*dir);
}

void TEngineTable::First() { C().First(); }
void TEngineTable::Next() { C().Next(); }
void TEngineTable::Prior() { C().Prior(); }
void TEngineTable::Last() { C().Last(); }
bool TEngineTable::Eof() const { return C().Eof(); }
bool TEngineTable::Bof() const { return C().Bof(); }
std::uint64_t TEngineTable::RecordCount() { return C().RecordCount(); }
std::uint64_t TEngineTable::RecNo() { return C().RecNo(); }
void TEngineTable::Insert() { C().Insert(); }
void TEngineTable::Edit() { C().Edit(); }
void TEngineTable::Post() { C().Post(); }
void TEngineTable::Cancel() { C().Cancel(); }
void TEngineTable::Delete() { C().Delete(); }
engine::TDataCursor::State TEngineTable::State() const {
  return cursor_ ? cursor_->state() : engine::TDataCursor::kBrowse;
}

bool TEngineTable::FindKey(std::string_view value) {
  if (C().state() != engine::TDataCursor::kBrowse) C().Post();
  return C().FindKeyValue(value);
}

std::size_t TEngineTable::FieldCount() const { return C().FieldCount(); }
std::string TEngineTable::FieldName(std::size_t i) const { return C().Field(i).name; }
std::string TEngineTable::FieldBytes(std::size_t i) { return C().GetField(i); }
void TEngineTable::SetFieldBytes(std::size_t i, std::string_view bytes) { C().SetField(i, bytes); }
std::uint16_t TEngineTable::LanguageId() const { return C().LanguageId(); }
std::uint16_t TEngineTable::SortId() const { return C().SortId(); }

}  // namespace vandrel::dataset
