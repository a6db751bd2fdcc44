// TCustomBase and TBase: the attached table, parameter editing and the base
// requests.
#include "model/base.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "dictionary/body_codec.h"
#include "dictionary/dic_format.h"
#include "dictionary/dic_reader.h"
#include "dictionary/vocab_compiler.h"
#include "engine/base_list.h"
#include "model/base_set.h"
#include "model/cursor.h"
#include "model/dictionary_folder.h"
#include "model/update_table.h"
#include "model/vocab_table.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/utf8.h"
#include "protocol/message_ids.h"
#include "protocol/model_ids.h"
#include "service/errors.h"

namespace vandrel {
namespace {

// Holds a reference on a table for a scope: a rewrite tells the clients of
// every base on the table, and any of them may close its base meanwhile.
class TTableRef {
 public:
  explicit TTableRef(TVocabTable& table) : table_(table) { table_.AddRef(); }
  ~TTableRef() { table_.Release(); }
  TTableRef(const TTableRef&) = delete;
  TTableRef& operator=(const TTableRef&) = delete;

 private:
  TVocabTable& table_;
};

// The base that holds the one update of the service ("Updates.tmp").
TCustomBase* g_update_holder = nullptr;

// Closes the update container now when nothing of it is open (its close is
// otherwise deferred to the next idle point, and a quick second update
// could not delete it).
void CloseUpdatesContainer() {
  std::error_code ignored;
  const std::filesystem::path path = std::filesystem::absolute(kUpdatesFile, ignored);
  engine::TBaseList::Global().CloseIfIdle(path.lexically_normal().string());
}

std::string MergeOutputName(const std::string& file_name) {
  return std::filesystem::path(file_name).replace_extension(".tmp").string();
}

}  // namespace

// ---- TCustomBase ----

TCustomBase::TCustomBase(TCustomBaseSet* owner) : TChangeObject(owner), base_set_(owner) {}

TCustomBase::~TCustomBase() {
  // A base freed inside a bracket gives its share of the table's count back
  // and drops its update table, so the file's other bases can update.
  if (table_ != nullptr)
    for (; table_updates_ > 0; --table_updates_) table_->DecUpdateCount();
  DropUpdateTable();
  SetTable(nullptr);
}

const TMessageTable& TCustomBase::MessageTable() {
  static const TMessageTable table("TCustomBase", &TChangeObject::MessageTable(),
                                   {{QM_CONNECT, &TCustomBase::QmConnect}});
  return table;
}

void TCustomBase::SetTable(TVocabTable* table) {
  // Closed while its merge waits for progress answers: the base keeps its
  // table and update table until the merge has ended.
  if (merging_ && table == nullptr) {
    detach_after_merge_ = true;
    return;
  }
  const TNotifyEvent handler = MakeNotifyEvent<&TCustomBase::OnParamsChanged>(this);
  // The new reference comes first: attaching the table that is attached
  // already must not free it on the way.
  if (table != nullptr) table->AddRef();
  if (table_ != nullptr) {
    TVocabTable* old = table_;
    // Detached inside a bracket: the table gets this base's share of its
    // update count back, and the stored changes are dropped.
    for (; table_updates_ > 0; --table_updates_) old->DecUpdateCount();
    if (table != old) DropUpdateTable();
    table_ = nullptr;
    old->RemoveParamsHandler(handler);
    old->Release();
  }
  table_ = table;
  if (table != nullptr) table->AddParamsHandler(handler);
}

void TCustomBase::Progress(std::int32_t, std::int32_t, bool&) {}
void TCustomBase::SendParams() {}
void TCustomBase::SendParamsChanged() {}

TVocabTable& TCustomBase::RequireTable() const {
  // A base without a table has been closed while one of its requests was
  // still running.
  if (table_ == nullptr) throw ELocal("Unknown base \"\"", kErrUnknownBase);
  return *table_;
}

void TCustomBase::QmConnect(TMessage& message) {
  RequireTable();
  Inherited<TCustomBase>(message);
  SendParams();
}

void TCustomBase::OnParamsChanged(TNotifyObject*) {
  // The rewrite succeeded; a client that cannot be told (it is gone, or
  // fails the notice) must not keep the other bases' clients from hearing
  // of it, nor fail the request of the base that wrote.
  try {
    const bool replaced = table_ != nullptr && table_->FileReplaced;
    SendParams();
    if (FreePending() || table_ == nullptr) return;
    SendParamsChanged();
    // A merge replaced the file: the set's cursors find their words in the
    // new one (record numbers of the old file mean other words now).
    if (replaced && !FreePending() && base_set_ != nullptr) base_set_->DoChange();
  } catch (const std::exception&) {
  }
}

void TCustomBase::BeginParams() {
  TVocabTable& table = RequireTable();
  if (params_count_ == 0) {
    params_.Name = table.GetName();
    params_.ShortName = table.GetShortName();
    params_.Description = table.GetDescription();
  }
  ++params_count_;
}

void TCustomBase::EndParams() {
  RequireTable();
  if (params_count_ <= 0) return;
  if (--params_count_ == 0) WriteParams();
}

void TCustomBase::WriteParams() {
  TVocabTable& table = RequireTable();
  if (table.Merging)
    throw ELocal("Base \"" + WideToUtf8(table.GetName()) + "\" now busy", kErrBaseBusy);
  TTableRef hold(table);
  table.Close();
  try {
    WriteBaseParams(table.FileName, params_.Name, params_.ShortName, params_.Description);
  } catch (...) {
    // The file is as it was, or its parameters page is: every other base
    // on the table reads on.
    try {
      table.Open();
    } catch (const std::exception&) {
    }
    throw;
  }
  table.Open();
  table.ParamsChanged();
}

// ---- word updates ----

void TCustomBase::BeginUpdate() {
  TVocabTable& table = RequireTable();
  if (table.UpdateCount() != UpdateCount() ||
      (g_update_holder != nullptr && g_update_holder != this)) {
    TVocabTable* busy =
        g_update_holder != nullptr && g_update_holder->table_ ? g_update_holder->table_ : &table;
    throw ELocal("Base \"" + WideToUtf8(busy->GetName()) + "\" now busy", kErrBaseBusy);
  }
  table.IncUpdateCount();
  ++table_updates_;
  TChangeObject::BeginUpdate();
  if (UpdateCount() != 1) return;
  try {
    g_update_holder = this;
    rows_stored_ = false;
    CloseUpdatesContainer();
    PrepareUpdatesFile(table.FileName);
    CreateUpdateTable(table.Language());
    update_table_ = std::make_unique<TUpdateTable>();
    update_table_->Open();
  } catch (...) {
    DropUpdateTable();
    table.DecUpdateCount();
    --table_updates_;
    // The pending change was cleared above: this delivers nothing.
    TChangeObject::EndUpdate();
    throw;
  }
}

void TCustomBase::EndUpdate() {
  TVocabTable& table = RequireTable();
  if (table.UpdateCount() != UpdateCount())
    throw ELocal("End update on \"" + WideToUtf8(table.GetName()) + "\" failed",
                 kErrEndUpdateFailed);
  // Nested brackets clear the pending change; the rows stored decide.
  const bool merge_now = UpdateCount() == 1 && rows_stored_ && !PendingChange();
  struct TRestore {
    TCustomBase& base;
    TVocabTable& table;
    ~TRestore() {
      if (base.table_updates_ > 0) {
        table.DecUpdateCount();
        --base.table_updates_;
      }
      if (base.UpdateCount() <= 0) base.DropUpdateTable();
    }
  } restore{*this, table};
  TTableRef hold(table);
  TChangeObject::EndUpdate();
  if (merge_now && !FreePending()) DoChange();
}

void TCustomBase::ClearChange() {
  rows_stored_ = false;
  TChangeObject::ClearChange();
}

void TCustomBase::DoChange() {
  if (UpdateCount() == 0 && rows_stored_ && update_table_ != nullptr) {
    // A free of the set while the merge waits for progress answers runs
    // when the merge has ended: the set's cursors and bases stay valid.
    std::optional<THandleObject::TDispatchScope> keep_set;
    if (base_set_ != nullptr) keep_set.emplace(base_set_);
    ApplyUpdates();
  }
  // Closed or freed meanwhile: no client to tell.
  if (FreePending() || table_ == nullptr) return;
  TChangeObject::DoChange();
}

void TCustomBase::DropUpdateTable() {
  // The merge reads the update table: it stays until the merge has ended.
  if (merging_) return;
  if (update_table_ != nullptr) {
    try {
      update_table_->Close();
    } catch (const std::exception&) {
    }
    update_table_.reset();
    CloseUpdatesContainer();
  }
  rows_stored_ = false;
  if (g_update_holder == this) g_update_holder = nullptr;
}

void TCustomBase::StoreChange(const std::string& key, WideView trans) {
  TUpdateTable& updates = *update_table_;
  if (updates.FindKeyBytes(key.substr(0, kUpdateWordBytes))) {
    // The word was given before in this update: a deletion replaces the
    // stored translation, a put joins it ("A; B"), and a put after a
    // deletion stores its translation alone.
    WideString joined = updates.GetTrans();
    if (trans.empty() || joined.empty())
      joined = WideString(trans);
    else
      joined = joined + kTransSeparator + WideString(trans);
    if (!joined.empty()) EncodeBody(table_->Language(), table_->TransLanguage(), joined, nullptr);
    updates.Edit();
    try {
      updates.SetTrans(joined);
      updates.Post();
    } catch (...) {
      updates.Cancel();
      throw;
    }
  } else {
    updates.Insert();
    try {
      updates.SetWordKey(key);
      updates.SetTrans(trans);
      updates.Post();
    } catch (...) {
      updates.Cancel();
      throw;
    }
  }
  rows_stored_ = true;
}

void TCustomBase::PutWord(WideView word, WideView trans) {
  TVocabTable& table = RequireTable();
  BeginUpdate();
  try {
    const std::string key = update_table_->PutKey(word);
    // A translation the encoder refuses is refused now, alone, rather than
    // failing the merge of the whole bracket.
    if (!trans.empty()) EncodeBody(table.Language(), table.TransLanguage(), trans, nullptr);
    StoreChange(key, trans);
  } catch (...) {
    try {
      EndUpdate();
    } catch (const std::exception&) {
    }
    throw;
  }
  EndUpdate();
}

void TCustomBase::DeleteWord(WideView word) {
  RequireTable();
  BeginUpdate();
  try {
    StoreChange(update_table_->DeleteKey(word), WideView());
  } catch (...) {
    try {
      EndUpdate();
    } catch (const std::exception&) {
    }
    throw;
  }
  EndUpdate();
}

void TCustomBase::ReleaseFileReaders(TVocabTable& table) {
  // Every base on the table has one parameters-changed entry; the cursors
  // of its set hold a position on the file at the base's index. Fresh
  // positions let go of the old file's mapping, which would keep the new
  // file from taking its name; the cursors find their words again after
  // the merge.
  const TNotifyEvent::TCode code = MakeNotifyEvent<&TCustomBase::OnParamsChanged>(this).Code;
  for (const TNotifyEvent& entry : table.ParamsHandlers()) {
    if (entry.Code != code) continue;
    auto* base = static_cast<TCustomBase*>(entry.Object);
    TCustomBaseSet* set = base->base_set_;
    if (set == nullptr) continue;
    const int index = set->BaseList().IndexOf(base);
    if (index < 0) continue;
    TNotifyList& cursors = set->CursorList();
    for (int i = 0; i < cursors.Count(); ++i) {
      auto* cursor = dynamic_cast<TCustomCursor*>(cursors.Items(i));
      if (cursor == nullptr || static_cast<int>(cursor->Positions().size()) <= index) continue;
      cursor->DeleteBase(index);
      cursor->InsertBase(index);
    }
  }
}

void TCustomBase::ApplyUpdates() {
  TVocabTable& table = RequireTable();
  TTableRef hold(table);
  TUpdateTable& updates = *update_table_;
  rows_stored_ = false;
  const std::string out = MergeOutputName(table.FileName);
  struct TMerging {
    TCustomBase& base;
    TVocabTable& table;
    TMerging(TCustomBase& b, TVocabTable& t) : base(b), table(t) {
      base.merging_ = true;
      table.Merging = true;
    }
    ~TMerging() {
      base.merging_ = false;
      table.Merging = false;
      if (base.detach_after_merge_) {
        base.detach_after_merge_ = false;
        try {
          base.SetTable(nullptr);
        } catch (const std::exception&) {
        }
      }
    }
  } merging(*this, table);

  bool stop = false;
  bool replaced = false;
  try {
    {
      // A private position: clients' cursors move the file's other readers
      // while the merge waits for progress answers.
      TDicReader reader(table.File());
      TVocabCompiler compiler;
      compiler.SetLanguage(table.Language());
      compiler.SetTransLanguage(table.TransLanguage());
      compiler.SetScrambled(table.Scrambled());
      compiler.SetCompressed(table.Compressed());
      // Copied codec-2 bodies need their dictionary in the new file.
      if (const auto& dictionary = table.File()->BodyDictionary())
        compiler.SetBodyDictionary(dictionary->Bytes());
      compiler.BeginCompile(out);
      // For the benchmark alone: VANDREL_MERGE_REENCODE=1 decodes and
      // encodes every kept word as a new one instead of copying its stored
      // body (bench/tools/run_update.sh measures both).
      const char* reencode_env = std::getenv("VANDREL_MERGE_REENCODE");
      const bool reencode = reencode_env != nullptr && std::string_view(reencode_env) == "1";
      updates.WriteBack();
      reader.First();
      updates.First();
      const std::int64_t total =
          static_cast<std::int64_t>(updates.RecordCount()) + reader.RecordCount();
      const std::int64_t step = total / 100;
      std::int64_t counter = 0;
      WideString previous_update, old_word, new_word;
      bool have_previous = false, have_old = false, have_new = false;
      const bool stored_form_current = table.Version() >= dic::kVersionWithEscapes;
      while (!stop && !(reader.Eof() && updates.Eof())) {
        // Each side's word is read once per record.
        if (!reader.Eof() && !have_old) {
          old_word = reader.GetWord();
          have_old = true;
        }
        if (!updates.Eof() && !have_new) {
          new_word = updates.GetWord();
          have_new = true;
          if (have_previous && CompareWords(previous_update, new_word) >= 0)
            throw Exception("The stored changes are not in dictionary order");
          previous_update = new_word;
          have_previous = true;
        }
        int c;
        if (reader.Eof())
          c = 1;
        else if (updates.Eof())
          c = -1;
        else
          c = CompareWords(old_word, new_word);
        if (c < 0) {
          if (reencode)
            compiler.AddWord(old_word, reader.GetTrans());
          else
            compiler.AddStoredBody(old_word, reader.GetStoredBody(), stored_form_current);
          reader.Next();
          have_old = false;
        } else {
          const WideString trans = updates.GetTrans();
          if (!trans.empty()) compiler.AddWord(new_word, trans);
          if (c == 0) {
            reader.Next();
            have_old = false;
          }
          updates.Next();
          have_new = false;
        }
        if (++counter >= step) {
          counter = 0;
          const std::int64_t position = std::clamp<std::int64_t>(
              static_cast<std::int64_t>(updates.Eof() ? updates.RecordCount() : updates.RecNo()) +
                  (reader.Eof() ? reader.RecordCount() : reader.RecNo()) - 1,
              0, std::max<std::int64_t>(total - 1, 0));
          try {
            Progress(static_cast<std::int32_t>(position), static_cast<std::int32_t>(total - 1),
                     stop);
          } catch (const ERemote&) {
            stop = true;
          } catch (const std::exception& e) {
            // A client without a progress handler does not stop the merge.
            if (std::string_view(e.what()).rfind("Method ", 0) != 0) stop = true;
          }
        }
      }
      if (!stop) compiler.EndCompile();
    }
    if (stop) {
      win::DeleteFileA(out.c_str());
      return;
    }
    WriteBaseParams(out, table.GetName(), table.GetShortName(), table.GetDescription());
    const std::string shown = WideToUtf8(table.GetName());
    ReleaseFileReaders(table);
    table.Close();
    // One atomic rename, then the folder is flushed: the dictionary's name
    // always names the old file or the new one.
    if (!win::MoveFileExA(out.c_str(), table.FileName.c_str(),
                          win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH)) {
      const win::DWORD code = win::GetLastError();
      // Another process has the file open or mapped (another service on
      // the same folder): the old file stays.
      if (code == win::ERROR_ACCESS_DENIED || code == win::ERROR_SHARING_VIOLATION)
        throw ELocal("Base \"" + shown + "\" now in use", kErrBaseInUse);
      throw OSError(code);
    }
    replaced = true;
    table.Open();
  } catch (...) {
    if (!replaced) win::DeleteFileA(out.c_str());
    try {
      table.Open();
    } catch (const std::exception&) {
    }
    throw;
  }
  table.FileReplaced = true;
  try {
    table.ParamsChanged();
  } catch (...) {
    table.FileReplaced = false;
    throw;
  }
  table.FileReplaced = false;
}

// ---- TBase ----

const TMessageTable& TBase::MessageTable() {
  static const TMessageTable table("TBase", &TCustomBase::MessageTable(),
                                   {
                                       {BA_GET_NAME, &TBase::BaGetName},
                                       {BA_SET_NAME, &TBase::BaSetName},
                                       {BA_GET_SHORT_NAME, &TBase::BaGetShortName},
                                       {BA_SET_SHORT_NAME, &TBase::BaSetShortName},
                                       {BA_GET_DESCRIPTION, &TBase::BaGetDescription},
                                       {BA_SET_DESCRIPTION, &TBase::BaSetDescription},
                                       {BA_GET_VERSION, &TBase::BaGetVersion},
                                       {BA_GET_LANGUAGE, &TBase::BaGetLanguage},
                                       {BA_SET_LANGUAGE, &TBase::BaSetLanguage},
                                       {BA_GET_TRANS_LANGUAGE, &TBase::BaGetTransLanguage},
                                       {BA_SET_TRANS_LANGUAGE, &TBase::BaSetTransLanguage},
                                       {BA_GET_FIRST_CHARS, &TBase::BaGetFirstChars},
                                       {BA_GET_LANG_CHARS, &TBase::BaGetLangChars},
                                       {BA_GET_FILE_NAME, &TBase::BaGetFileName},
                                       {BA_BEGIN_PARAMS, &TBase::BaBeginParams},
                                       {BA_END_PARAMS, &TBase::BaEndParams},
                                       {BA_GET_CREATE_TIME, &TBase::BaGetCreateTime},
                                       {BA_PUT_WORD, &TBase::BaPutWord},
                                       {BA_PUT_WORD_ALT, &TBase::BaPutWord},
                                       {BA_DELETE_WORD, &TBase::BaDeleteWord},
                                   });
  return table;
}

void TBase::WriteParamItems() {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteWideString(kItemName, sent_.Name);
  out.WriteWideString(kItemShortName, sent_.ShortName);
  out.WriteWideString(kItemDescription, sent_.Description);
  out.WriteInteger(kItemVersion, static_cast<std::int32_t>(sent_.Version));
  out.WriteInteger(kItemLanguage, sent_.Language);
  out.WriteInteger(kItemTransLanguage, sent_.TransLanguage);
  out.WriteWideString(kItemFirstChars, sent_.FirstChars);
  out.WriteWideString(kItemLangChars, sent_.LangChars);
  out.WriteInteger(kItemRecordCount, sent_.RecordCount);
  out.WriteDouble(kItemCreateTime, sent_.CreateTime);
  out.WriteInteger(kItemScrambled, sent_.Scrambled ? 1 : 0);
  out.WriteInteger(kItemCompressed, sent_.Compressed ? 1 : 0);
}

void TBase::SendParams() {
  TVocabTable& table = RequireTable();
  sent_.Name = table.GetName();
  sent_.ShortName = table.GetShortName();
  sent_.Description = table.GetDescription();
  sent_.Version = table.Version();
  sent_.Language = table.Language();
  sent_.TransLanguage = table.TransLanguage();
  sent_.FirstChars = table.FirstChars();
  sent_.LangChars = table.LangChars();
  sent_.RecordCount = table.RecordCount();
  sent_.CreateTime = table.CreateTime();
  sent_.Scrambled = table.Scrambled();
  sent_.Compressed = table.Compressed();
  WriteParamItems();
  Query(BA_PARAMS);
}

void TBase::SendParamsChanged() {
  // Requests that ran while BA_PARAMS was out may have reused the buffer:
  // the notice carries the parameters again.
  WriteParamItems();
  Query(BA_PARAMS_CHANGED);
}

void TBase::Progress(std::int32_t position, std::int32_t total, bool& stop) {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemProgressPos, position);
  out.WriteInteger(kItemProgressTotal, total);
  Query(BA_PROGRESS);
  stop = Remote() != 0 && (out.ReadInteger(kItemResult) & 0xFF) != 0;
}

namespace {
void AnswerWide(TTransferMan& out, std::uint16_t item, const WideString& value) {
  out.ResetWrite();
  out.WriteWideString(item, value);
}
void AnswerInteger(TTransferMan& out, std::uint16_t item, std::int32_t value) {
  out.ResetWrite();
  out.WriteInteger(item, value);
}
}  // namespace

void TBase::BaGetName(TMessage&) { AnswerWide(Transfer(), kItemName, RequireTable().GetName()); }

void TBase::BaSetName(TMessage&) {
  const WideString value = Transfer().ReadWideString(kItemName);
  BeginParams();
  Params().Name = value;
  EndParams();
  Transfer().ResetWrite();
}

void TBase::BaGetShortName(TMessage&) {
  AnswerWide(Transfer(), kItemShortName, RequireTable().GetShortName());
}

void TBase::BaSetShortName(TMessage&) {
  const WideString value = Transfer().ReadWideString(kItemShortName);
  BeginParams();
  Params().ShortName = value;
  EndParams();
  Transfer().ResetWrite();
}

void TBase::BaGetDescription(TMessage&) {
  AnswerWide(Transfer(), kItemDescription, RequireTable().GetDescription());
}

void TBase::BaSetDescription(TMessage&) {
  const WideString value = Transfer().ReadWideString(kItemDescription);
  BeginParams();
  Params().Description = value;
  EndParams();
  Transfer().ResetWrite();
}

void TBase::BaGetVersion(TMessage&) {
  AnswerInteger(Transfer(), kItemVersion, static_cast<std::int32_t>(RequireTable().Version()));
}

void TBase::BaGetLanguage(TMessage&) {
  AnswerInteger(Transfer(), kItemLanguage, RequireTable().Language());
}

// The languages of a dictionary are fixed when it is compiled.
void TBase::BaSetLanguage(TMessage&) { Transfer().ResetWrite(); }

void TBase::BaGetTransLanguage(TMessage&) {
  AnswerInteger(Transfer(), kItemTransLanguage, RequireTable().TransLanguage());
}

void TBase::BaSetTransLanguage(TMessage&) { Transfer().ResetWrite(); }

void TBase::BaGetFirstChars(TMessage&) {
  AnswerWide(Transfer(), kItemFirstChars, RequireTable().FirstChars());
}

void TBase::BaGetLangChars(TMessage&) {
  AnswerWide(Transfer(), kItemLangChars, RequireTable().LangChars());
}

void TBase::BaGetFileName(TMessage&) {
  AnswerWide(Transfer(), kItemBaseFileName, SystemToWide(FileNameOf(RequireTable().FileName)));
}

void TBase::BaBeginParams(TMessage&) {
  BeginParams();
  Transfer().ResetWrite();
}

void TBase::BaEndParams(TMessage&) {
  EndParams();
  Transfer().ResetWrite();
}

void TBase::BaGetCreateTime(TMessage&) {
  TVocabTable& table = RequireTable();
  Transfer().ResetWrite();
  Transfer().WriteDouble(kItemCreateTime, table.CreateTime());
}

void TBase::BaPutWord(TMessage&) {
  const WideString word = Transfer().ReadWideString(kItemWord);
  const WideString trans = Transfer().ReadWideString(kItemTrans);
  PutWord(word, trans);
  Transfer().ResetWrite();
}

void TBase::BaDeleteWord(TMessage&) {
  const WideString word = Transfer().ReadWideString(kItemWord);
  DeleteWord(word);
  Transfer().ResetWrite();
}

}  // namespace vandrel
