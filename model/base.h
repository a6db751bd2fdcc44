// A base: one open dictionary inside a base set. Through it a client reads
// the dictionary's parameters and edits its three parameter strings; cursors
// reach the shared table through it.
//
// Class chain: TCustomBase (table, parameter editing) -> TBase (request
// handlers, the conversation with the client: parameters, progress).
//
// The base holds one reference on its table (SetTable) and one entry in
// the table's parameters-changed handlers, and gives both back when it is
// detached or destroyed. A parameter rewrite of the file by any base on the
// same table makes every attached base send BA_PARAMS, then
// BA_PARAMS_CHANGED, to its client.
#pragma once

#include <cstdint>
#include <memory>

#include "dictionary/charmap.h"
#include "service/change_object.h"

namespace vandrel {

class TCustomBaseSet;
class TVocabTable;
class TUpdateTable;

// The parameter strings being edited.
struct TParamsRec {
  WideString Name;
  WideString ShortName;
  WideString Description;
};

class TCustomBase : public TChangeObject {
 public:
  // owner: the base set; used, not owned.
  explicit TCustomBase(TCustomBaseSet* owner);
  // Detaches the table (SetTable(nullptr)).
  ~TCustomBase() override;

  // Detaches the current table (handler removed, reference released), then
  // attaches table (reference counted, handler registered) unless null.
  virtual void SetTable(TVocabTable* table);
  // Asks whether a long operation should stop; nothing here.
  virtual void Progress(std::int32_t position, std::int32_t total, bool& stop);
  // Send all parameters / the parameters-changed notice to the client;
  // nothing here.
  virtual void SendParams();
  virtual void SendParamsChanged();

  // Parameter edit: the outermost BeginParams loads Params from the table;
  // the EndParams that closes it writes them (WriteParams). An EndParams
  // without an open edit does nothing.
  void BeginParams();
  void EndParams();
  // Rewrites the file's parameter strings with Params: the table is closed,
  // the parameters page rewritten, the table opened again and every base on
  // it told (ParamsChanged). When the rewrite fails the table is opened
  // again all the same, and the failure raised.
  void WriteParams();

  // Word updates. The outermost BeginUpdate creates the update table
  // ("Updates.tmp" in the working directory); PutWord stores one change
  // (an empty translation deletes the word); the outermost EndUpdate
  // merges the stored changes into a new file that replaces the old one.
  // One update at a time in the service: another base's BeginUpdate
  // answers 261 "Base \"%s\" now busy". Failures restore both counts.
  void BeginUpdate() override;
  void EndUpdate() override;
  void DoChange() override;
  void ClearChange() override;
  void PutWord(WideView word, WideView trans);
  void DeleteWord(WideView word);
  TUpdateTable* UpdateTable() const { return update_table_.get(); }
  // True while this base's merge runs.
  bool Merging() const { return merging_; }

  TVocabTable* Table() const { return table_; }
  TCustomBaseSet* BaseSet() const { return base_set_; }
  std::int32_t ParamsCount() const { return params_count_; }
  TParamsRec& Params() { return params_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // QM_CONNECT: inherited, then SendParams.
  void QmConnect(TMessage& message);
  // The table's parameters-changed handler: SendParams, SendParamsChanged.
  void OnParamsChanged(TNotifyObject* sender);
  // The table, or "File %s is not base" when none is attached.
  TVocabTable& RequireTable() const;

 private:
  void StoreChange(const std::string& key, WideView trans);
  // The merge of the update table into the file; runs inside DoChange.
  void ApplyUpdates();
  void DropUpdateTable();
  // Gives every cursor on the table's bases a fresh position (no file).
  void ReleaseFileReaders(TVocabTable& table);

  TCustomBaseSet* base_set_;
  TVocabTable* table_ = nullptr;
  std::unique_ptr<TUpdateTable> update_table_;
  // Set by a stored change, cleared when the update table is created: the
  // outermost EndUpdate merges when it is set.
  bool rows_stored_ = false;
  bool merging_ = false;
  // Set when the base was closed while its merge ran: it lets go of its
  // table when the merge ends.
  bool detach_after_merge_ = false;
  // This base's share of the table's update count.
  std::int32_t table_updates_ = 0;
  std::int32_t params_count_ = 0;
  TParamsRec params_;
};

class TBase : public TCustomBase {
 public:
  using TCustomBase::TCustomBase;

  // BA_PROGRESS to the client (items 126, 127); stop = low byte of item
  // 101 of the answer.
  void Progress(std::int32_t position, std::int32_t total, bool& stop) override;
  // BA_PARAMS: the twelve parameter items, read from the table now.
  void SendParams() override;
  // BA_PARAMS_CHANGED, carrying the same items as the BA_PARAMS before it.
  void SendParamsChanged() override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // The parameters as last read for the client.
  struct TSentParams {
    WideString Name, ShortName, Description, FirstChars, LangChars;
    std::uint32_t Version = 0;
    std::int32_t Language = 0, TransLanguage = 0, RecordCount = 0;
    double CreateTime = 0;
    bool Scrambled = false, Compressed = false;
  };
  void WriteParamItems();
  TSentParams sent_;

  void BaGetName(TMessage& message);
  void BaSetName(TMessage& message);
  void BaGetShortName(TMessage& message);
  void BaSetShortName(TMessage& message);
  void BaGetDescription(TMessage& message);
  void BaSetDescription(TMessage& message);
  void BaGetVersion(TMessage& message);
  void BaGetLanguage(TMessage& message);
  void BaSetLanguage(TMessage& message);
  void BaGetTransLanguage(TMessage& message);
  void BaSetTransLanguage(TMessage& message);
  void BaGetFirstChars(TMessage& message);
  void BaGetLangChars(TMessage& message);
  void BaGetFileName(TMessage& message);
  void BaBeginParams(TMessage& message);
  void BaEndParams(TMessage& message);
  void BaGetCreateTime(TMessage& message);
  void BaPutWord(TMessage& message);
  void BaDeleteWord(TMessage& message);
};

}  // namespace vandrel
