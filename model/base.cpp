// TCustomBase and TBase: the attached table, parameter editing and the base
// requests.
#include "model/base.h"

#include "dictionary/vocab_compiler.h"
#include "model/base_set.h"
#include "model/dictionary_folder.h"
#include "model/model_ids.h"
#include "model/vocab_table.h"
#include "service/errors.h"
#include "service/query_ids.h"

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

}  // namespace

// ---- TCustomBase ----

TCustomBase::TCustomBase(TCustomBaseSet* owner) : TChangeObject(owner), base_set_(owner) {}

TCustomBase::~TCustomBase() { SetTable(nullptr); }

const TMessageTable& TCustomBase::MessageTable() {
  static const TMessageTable table("TCustomBase", &TChangeObject::MessageTable(),
                                   {{QM_CONNECT, &TCustomBase::QmConnect}});
  return table;
}

void TCustomBase::SetTable(TVocabTable* table) {
  const TNotifyEvent handler = MakeNotifyEvent<&TCustomBase::OnParamsChanged>(this);
  // The new reference comes first: attaching the table that is attached
  // already must not free it on the way.
  if (table != nullptr) table->AddRef();
  if (table_ != nullptr) {
    TVocabTable* old = table_;
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
    SendParams();
    if (FreePending() || table_ == nullptr) return;
    SendParamsChanged();
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

}  // namespace vandrel
