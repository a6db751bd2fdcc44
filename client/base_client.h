// TBaseClient: the client's end of one base - an open dictionary in a base
// set. It reads and edits the dictionary's parameters, adds, replaces and
// deletes words, and handles what the base sends to its client: all
// parameters (BA_PARAMS: on linking, and after every rewrite of the file's
// parameter strings by any base on the same file), the note that they
// changed (BA_PARAMS_CHANGED), and the question whether to stop a
// recompilation (BA_PROGRESS).
//
// Lifetime: usually made and owned by its TBaseSetClient (OpenBase); held
// in a TOwnedPtr otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "client/remote_object.h"
#include "platform/win_types.h"

namespace vandrel::client {

// A base's parameters as BA_PARAMS carries them, in that order.
struct TBaseParams {
  std::u16string Name;
  std::u16string ShortName;
  std::u16string Description;
  std::int32_t Version = 0;
  std::int32_t Language = 0;
  std::int32_t TransLanguage = 0;
  std::u16string FirstChars;  // the characters words begin with
  std::u16string LangChars;   // the characters words hold
  std::int32_t RecordCount = 0;
  double CreateTime = 0;  // days since 1899-12-30
  bool Scrambled = false;
  bool Compressed = false;
};

class TBaseClient : public TRemoteObject {
 public:
  explicit TBaseClient(win::HWND base);

  // The parameters of the last BA_PARAMS (all empty before the first).
  const TBaseParams& Params() const { return params_; }
  int ParamsCount() const { return params_count_; }
  int ParamsChangedCount() const { return params_changed_count_; }
  // Called after a BA_PARAMS was read / on BA_PARAMS_CHANGED (which always
  // follows one).
  std::function<void(const TBaseParams&)> OnParams;
  std::function<void()> OnParamsChanged;
  // Asked during a recompilation; true stops it. Without a handler the
  // recompilation goes on.
  std::function<bool(std::int32_t position, std::int32_t total)> OnProgress;

  // Single requests. A set request without an open edit rewrites the file
  // at once; inside BeginParams/EndParams the file is written once, at the
  // outermost EndParams.
  std::u16string GetName();
  void SetName(std::u16string_view name);
  std::u16string GetShortName();
  void SetShortName(std::u16string_view short_name);
  std::u16string GetDescription();
  void SetDescription(std::u16string_view description);
  void BeginParams();
  void EndParams();
  std::int32_t GetVersion();
  std::int32_t GetLanguage();
  std::int32_t GetTransLanguage();
  std::u16string GetFirstChars();
  std::u16string GetLangChars();
  // The dictionary's file name, without its folder.
  std::u16string GetFileName();
  double GetCreateTime();

  // Word changes, collected by the service and merged into the dictionary
  // when the outermost update ends (a change outside BeginUpdate/EndUpdate
  // is an update of its own). An empty translation deletes the word.
  void PutWord(std::u16string_view word, std::u16string_view translation);
  void DeleteWord(std::u16string_view word);
  void BeginUpdate();
  void EndUpdate();
  void ClearChange();

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void BaParams(TMessage& message);
  void BaParamsChanged(TMessage& message);
  void BaProgress(TMessage& message);
  // A request without items whose answer is one wide string / integer.
  std::u16string GetString(std::uint16_t message, std::uint16_t item);
  std::int32_t GetInteger(std::uint16_t message, std::uint16_t item);
  void SetString(std::uint16_t message, std::uint16_t item, std::u16string_view value);

  TBaseParams params_;
  int params_count_ = 0;
  int params_changed_count_ = 0;
};

}  // namespace vandrel::client
