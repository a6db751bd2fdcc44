// The base manager: the one object under the manager that owns everything
// a client does with dictionaries. It creates and frees base sets on
// request, keeps one shared dictionary table per open file (BaseList), and
// builds new empty dictionary files.
//
// Class chain: TCustomBaseMan (lists and operations) -> TBaseMan (request
// handlers, reclaiming the base sets of clients that are gone) ->
// TCustomVocabMan (vocabulary tables, base sets and files, vocab_man.h) ->
// TVocabMan.
//
// Ownership. The base manager owns its base sets: each is created with new,
// listed in BaseSetList and freed by DestroyBaseSet (or by the base
// manager's destructor). It does not own the tables in BaseList: a table
// frees itself when its last base releases it and leaves the list by
// itself. A base set or table that is still there when the base manager
// goes is logged ("CustomBaseMan.Destroy: ...") and freed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"
#include "service/link_object.h"
#include "service/notify.h"

namespace vandrel {

class TCustomBaseSet;
class TVocabTable;

class TCustomBaseMan : public TLinkObject {
 public:
  // owner: the manager (may be null in tests); used, not owned.
  explicit TCustomBaseMan(TNotifyObject* owner);
  ~TCustomBaseMan() override;

  // A new table of this kind, owned by this base manager, not yet opened.
  virtual TVocabTable* CreateTable() = 0;
  // A new base set of this kind, owned by this base manager.
  virtual TCustomBaseSet* CreateBaseSet() = 0;
  // Builds an empty dictionary file at path (replacing one of that name).
  virtual void CreateBaseFile(const std::string& path, std::int32_t language,
                              std::int32_t trans_language, bool scramble, bool compress) = 0;

  // CreateBaseSet, appended to BaseSetList; returns its index.
  int NewBaseSet();
  // Takes BaseSetList[index] out of the list and frees it. A failure E is
  // raised again as "CustomBaseMan.DestroyBaseSet: " + E's message.
  void DestroyBaseSet(int index);
  // The open table of the file path (compared without case), opening it
  // first when no base uses it yet. Counts no reference: the base that
  // attaches the table does. A table that cannot be opened is freed and
  // its error raised as "CustomBaseMan.NewBase: " + its message.
  TVocabTable* NewBase(const std::string& path);

  // Appends a line to the error log (error_log.h); never raises.
  static void LogError(const std::string& text);

  TNotifyList& BaseList() { return base_list_; }
  TNotifyList& BaseSetList() { return base_set_list_; }
  // The index of the base set whose window is handle, or -1.
  int IndexOfBaseSet(win::HWND handle) const;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  TNotifyList base_list_;
  TNotifyList base_set_list_;
};

// How often the base manager looks for base sets of clients that are gone.
constexpr win::UINT_PTR kReclaimTimerId = 1;
constexpr win::UINT kReclaimPeriodMs = 5000;

class TBaseMan : public TCustomBaseMan {
 public:
  // Inherited construction, then the reclaim timer.
  explicit TBaseMan(TNotifyObject* owner);
  ~TBaseMan() override;

  // Frees every base set whose client process has ended. A client names
  // its process by the window that sends BM_NEW_BASE_SET; base sets created
  // from this process (tests) or for an unknown process are never
  // reclaimed. Returns how many were freed.
  int ReclaimBaseSets();

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // BM_NEW_BASE_SET: -> item 1, the new base set's window.
  void BmNewBaseSet(TMessage& message);
  // BM_FREE_BASE_SET: item 1, a base set's window; "Unknown BaseSet", 141.
  void BmFreeBaseSet(TMessage& message);
  // WM_TIMER: the reclaim check.
  void WmTimer(TMessage& message);
};

}  // namespace vandrel
