// TVocabTable: a dictionary table (dic_table.h) as the object model shares
// it. The base manager keeps one per open dictionary file; every base that
// has the file open, in any base set, attaches to the same object.
//
// Lifetime: created by the base manager (TCustomBaseMan::NewBase) with new
// and RefCount 0; each attached base holds one reference. The Release that
// brings the count back to 0 frees the table (through Free()), and the
// table then leaves the base manager's BaseList by itself.
//
// UpdateCount sums the open updates (nesting included) of all attached
// bases, so that only one base at a time holds an update on the file.
// ParamsHandlers are called after the file's parameter strings were
// rewritten; each attached base registers exactly one entry and removes it
// when it detaches, so a freed base is never called.
#pragma once

#include <cstdint>

#include "dictionary/dic_table.h"
#include "service/event_list.h"

namespace vandrel {

class TVocabTable : public TDicTable {
 public:
  // owner: the base manager (used, not owned).
  explicit TVocabTable(TNotifyObject* owner);

  void AddRef() { ++ref_count_; }
  // The table frees itself when the count reaches 0.
  void Release();
  std::int32_t RefCount() const { return ref_count_; }

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
  std::int32_t ref_count_ = 0;
  std::int32_t update_count_ = 0;
  TEventList params_handlers_;
};

}  // namespace vandrel
