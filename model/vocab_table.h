// TVocabTable: a dictionary file (dic_file.h) as the object model shares
// it. The base manager keeps one per open dictionary file; every base that
// has the file open, in any base set, attaches to the same object. The
// table has no position: every cursor reads the file through reader
// positions of its own (dic_reader.h).
//
// Lifetime: created by the base manager (TCustomBaseMan::NewBase) with new
// and RefCount 0; each attached base holds one reference. The Release that
// brings the count back to 0 frees the table (through Free()), and the
// table then leaves the base manager's BaseList by itself.
//
// The file: Open maps FileName, Close lets go of it (a rewrite of the file
// closes and reopens it). Readers that still hold the previous file keep
// it mapped until they move to the new one; a closed table reads as an
// empty dictionary.
//
// UpdateCount sums the open updates (nesting included) of all attached
// bases, so that only one base at a time holds an update on the file.
// ParamsHandlers are called after the file's parameter strings were
// rewritten; each attached base registers exactly one entry and removes it
// when it detaches, so a freed base is never called.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "dictionary/dic_file.h"
#include "service/event_list.h"
#include "service/notify.h"

namespace vandrel {

class TVocabTable : public TNotifyObject {
 public:
  // owner: the base manager (used, not owned).
  explicit TVocabTable(TNotifyObject* owner);
  ~TVocabTable() override;

  // Path of the dictionary file; set before Open.
  std::string FileName;
  // Maps and checks FileName (TDicFile::Open, with its errors); nothing
  // when open.
  void Open();
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // The open file, null when closed. Readers compare it with the file they
  // hold to learn that the file was reopened.
  const std::shared_ptr<const TDicFile>& File() const { return file_; }

  // Header values (0, false or empty while closed).
  std::int32_t RecordCount() const { return file_ ? file_->RecordCount() : 0; }
  std::uint32_t Version() const { return file_ ? file_->Version() : 0; }
  std::uint16_t Language() const { return file_ ? file_->Language() : 0; }
  std::uint16_t TransLanguage() const { return file_ ? file_->TransLanguage() : 0; }
  double CreateTime() const { return file_ ? file_->CreateTime() : 0; }
  bool Scrambled() const { return file_ ? file_->Scrambled() : false; }
  bool Compressed() const { return file_ ? file_->Compressed() : false; }
  std::uint32_t PageSize() const { return file_ ? file_->PageSize() : 0; }
  WideString FirstChars() const { return file_ ? file_->FirstChars() : WideString(); }
  WideString LangChars() const { return file_ ? file_->LangChars() : WideString(); }
  // The parameter strings, read from the file on every call; "File %s is
  // not base" while closed.
  WideString GetName() const;
  WideString GetShortName() const;
  WideString GetDescription() const;

  // Writes "<file>: damaged (<place>): <detail>" to the error log for a
  // failure met while reading the file, once per distinct failure.
  void ReportDamage(const std::exception& failure);

  void AddRef() { ++ref_count_; }
  // The table frees itself when the count reaches 0.
  void Release();
  std::int32_t RefCount() const { return ref_count_; }

  // True while a base merges updates into the file: parameter writes and
  // deletion of the file answer 261 meanwhile.
  bool Merging = false;
  // True while the bases hear that a merge replaced the file: each then
  // re-locates the cursors of its set on their words.
  bool FileReplaced = false;

  void IncUpdateCount() { ++update_count_; }
  void DecUpdateCount() { --update_count_; }
  std::int32_t UpdateCount() const { return update_count_; }

  void AddParamsHandler(const TNotifyEvent& handler) { AddEventHandler(params_handlers_, handler); }
  void RemoveParamsHandler(const TNotifyEvent& handler) {
    RemoveEventHandler(params_handlers_, handler);
  }
  const TEventList& ParamsHandlers() const { return params_handlers_; }
  // Calls every parameters-changed handler, first to last, with this table
  // as sender.
  void ParamsChanged();

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  const TDicFile& RequireFile() const;

  std::shared_ptr<const TDicFile> file_;
  std::int32_t ref_count_ = 0;
  std::int32_t update_count_ = 0;
  TEventList params_handlers_;
  // Failures already written to the error log for the open file.
  std::set<std::string> reported_;
};

// "<file name without folder>: damaged (<place>)" for a failure that
// carries a place in a dictionary file, else "<file name>: <message>".
std::string DamageSummary(const std::string& file_name, const std::exception& failure);

}  // namespace vandrel
