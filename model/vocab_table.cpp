// TVocabTable: the shared file, reference count, update count,
// parameters-changed handlers and damage reports of a dictionary table.
#include "model/vocab_table.h"

#include <filesystem>

#include "model/dictionary_folder.h"
#include "model/error_log.h"
#include "platform/exceptions.h"

namespace vandrel {

TVocabTable::TVocabTable(TNotifyObject* owner) : TNotifyObject(owner) {}

TVocabTable::~TVocabTable() { Close(); }

const TMessageTable& TVocabTable::MessageTable() {
  static const TMessageTable table("TVocabTable", &TNotifyObject::MessageTable(), {});
  return table;
}

void TVocabTable::Open() {
  if (IsOpen()) return;
  file_ = TDicFile::Open(FileName);
  reported_.clear();
}

void TVocabTable::Close() { file_.reset(); }

const TDicFile& TVocabTable::RequireFile() const {
  if (!file_) throw Exception("File " + FileName + " is not base");
  return *file_;
}

WideString TVocabTable::GetName() const { return RequireFile().GetName(); }
WideString TVocabTable::GetShortName() const { return RequireFile().GetShortName(); }
WideString TVocabTable::GetDescription() const { return RequireFile().GetDescription(); }

void TVocabTable::ReportDamage(const std::exception& failure) {
  const TDamage* damage = DamageOf(failure);
  const std::string detail = damage != nullptr ? damage->Detail() : failure.what();
  if (!reported_.insert(detail).second) return;
  LogError(DamageSummary(FileName, failure) + ": " + detail);
  // A file that changed size behind the service's back (copied over in
  // place) is never read through the old view again: it is opened anew,
  // or closed when it no longer opens. Readers move to the new file at
  // their next step.
  std::error_code error;
  const auto size = std::filesystem::file_size(FileName, error);
  if (!file_ || (!error && static_cast<std::int64_t>(size) == file_->FileSize())) return;
  Close();
  try {
    Open();
    LogError(FileNameOf(FileName) + ": changed on disk; opened again");
  } catch (const std::exception& e) {
    LogError(FileNameOf(FileName) + ": changed on disk; closed: " + e.what());
  }
}

void TVocabTable::Release() {
  if (--ref_count_ == 0) Free();
}

void TVocabTable::ParamsChanged() { CallEventHandlers(params_handlers_, this); }

std::string DamageSummary(const std::string& file_name, const std::exception& failure) {
  const TDamage* damage = DamageOf(failure);
  const std::string name = FileNameOf(file_name);
  if (damage == nullptr) return name + ": " + failure.what();
  return name + ": damaged (" + damage->Where() + ")";
}

}  // namespace vandrel
