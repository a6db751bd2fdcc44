// TBaseClient: parameter and word requests; what the base sends.
#include "client/base_client.h"

#include "client/message_pump.h"
#include "protocol/message_ids.h"
#include "protocol/model_ids.h"

namespace vandrel::client {

TBaseClient::TBaseClient(win::HWND base) : TRemoteObject(base) {}

const TMessageTable& TBaseClient::MessageTable() {
  static const TMessageTable table("TBaseClient", &TRemoteObject::MessageTable(),
                                   {
                                       {BA_PARAMS, &TBaseClient::BaParams},
                                       {BA_PARAMS_CHANGED, &TBaseClient::BaParamsChanged},
                                       {BA_PROGRESS, &TBaseClient::BaProgress},
                                   });
  return table;
}

void TBaseClient::BaParams(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  TTransferMan& in = Transfer();
  TBaseParams p;
  p.Name = in.ReadWideString(kItemName);
  p.ShortName = in.ReadWideString(kItemShortName);
  p.Description = in.ReadWideString(kItemDescription);
  p.Version = in.ReadInteger(kItemVersion);
  p.Language = in.ReadInteger(kItemLanguage);
  p.TransLanguage = in.ReadInteger(kItemTransLanguage);
  p.FirstChars = in.ReadWideString(kItemFirstChars);
  p.LangChars = in.ReadWideString(kItemLangChars);
  p.RecordCount = in.ReadInteger(kItemRecordCount);
  p.CreateTime = in.ReadDouble(kItemCreateTime);
  p.Scrambled = (in.ReadInteger(kItemScrambled) & 0xFF) != 0;
  p.Compressed = (in.ReadInteger(kItemCompressed) & 0xFF) != 0;
  params_ = std::move(p);
  ++params_count_;
  if (OnParams) OnParams(params_);
  WakePump(Handle());
}

void TBaseClient::BaParamsChanged(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  ++params_changed_count_;
  if (OnParamsChanged) OnParamsChanged();
  WakePump(Handle());
}

void TBaseClient::BaProgress(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  TTransferMan& channel = Transfer();
  const std::int32_t position = channel.ReadInteger(kItemProgressPos);
  const std::int32_t total = channel.ReadInteger(kItemProgressTotal);
  const bool stop = OnProgress && OnProgress(position, total);
  channel.ResetWrite();
  channel.WriteInteger(kItemResult, stop ? 1 : 0);
}

std::u16string TBaseClient::GetString(std::uint16_t message, std::uint16_t item) {
  Call(message);
  return Answer().ReadWideString(item);
}

std::int32_t TBaseClient::GetInteger(std::uint16_t message, std::uint16_t item) {
  Call(message);
  return Answer().ReadInteger(item);
}

void TBaseClient::SetString(std::uint16_t message, std::uint16_t item, std::u16string_view value) {
  BeginRequest().WriteWideString(item, value);
  Request(message);
}

std::u16string TBaseClient::GetName() { return GetString(BA_GET_NAME, kItemName); }
void TBaseClient::SetName(std::u16string_view name) { SetString(BA_SET_NAME, kItemName, name); }
std::u16string TBaseClient::GetShortName() { return GetString(BA_GET_SHORT_NAME, kItemShortName); }
void TBaseClient::SetShortName(std::u16string_view short_name) {
  SetString(BA_SET_SHORT_NAME, kItemShortName, short_name);
}
std::u16string TBaseClient::GetDescription() {
  return GetString(BA_GET_DESCRIPTION, kItemDescription);
}
void TBaseClient::SetDescription(std::u16string_view description) {
  SetString(BA_SET_DESCRIPTION, kItemDescription, description);
}
void TBaseClient::BeginParams() { Call(BA_BEGIN_PARAMS); }
void TBaseClient::EndParams() { Call(BA_END_PARAMS); }
std::int32_t TBaseClient::GetVersion() { return GetInteger(BA_GET_VERSION, kItemVersion); }
std::int32_t TBaseClient::GetLanguage() { return GetInteger(BA_GET_LANGUAGE, kItemLanguage); }
std::int32_t TBaseClient::GetTransLanguage() {
  return GetInteger(BA_GET_TRANS_LANGUAGE, kItemTransLanguage);
}
std::u16string TBaseClient::GetFirstChars() {
  return GetString(BA_GET_FIRST_CHARS, kItemFirstChars);
}
std::u16string TBaseClient::GetLangChars() { return GetString(BA_GET_LANG_CHARS, kItemLangChars); }
std::u16string TBaseClient::GetFileName() { return GetString(BA_GET_FILE_NAME, kItemBaseFileName); }

double TBaseClient::GetCreateTime() {
  Call(BA_GET_CREATE_TIME);
  return Answer().ReadDouble(kItemCreateTime);
}

void TBaseClient::PutWord(std::u16string_view word, std::u16string_view translation) {
  TTransferMan& out = BeginRequest();
  out.WriteWideString(kItemWord, word);
  out.WriteWideString(kItemTrans, translation);
  Request(BA_PUT_WORD);
}

void TBaseClient::DeleteWord(std::u16string_view word) {
  BeginRequest().WriteWideString(kItemWord, word);
  Request(BA_DELETE_WORD);
}

void TBaseClient::BeginUpdate() { Call(QM_BEGINUPDATE); }
void TBaseClient::EndUpdate() { Call(QM_ENDUPDATE); }
void TBaseClient::ClearChange() { Call(QM_CLEARCHANGE); }

}  // namespace vandrel::client
