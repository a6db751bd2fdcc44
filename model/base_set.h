// A base set: one client's working collection of dictionaries. It lists
// the dictionary files of the folder, opens files as bases, creates cursors
// that walk the merged word list of its open bases, and creates and deletes
// dictionary files.
//
// Class chain: TCustomBaseSet (lists, operations, change tracking) ->
// TBaseSet (request handlers, the state sent to the client) ->
// TCustomVocabBaseSet (concrete bases and cursors, vocab_base_set.h) ->
// TVocabBaseSet.
//
// Ownership. The base set owns its bases and cursors: each is created with
// new, listed in BaseList or CursorList, and freed by CloseBase or
// FreeCursor (or by the base set's destructor, which first logs
// "CustomBaseSet.Destroy: ..." for each list that is not empty). A child is
// taken out of every list before it is freed, so a child whose own request
// is still running (its delete deferred) is already gone from the set.
//
// Invariant: every cursor has exactly one entry in Positions per base in
// BaseList, at the base's index. It holds whenever a message can reach the
// set or its children (that is, around every outgoing notification).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "service/change_object.h"
#include "service/notify.h"

namespace vandrel {

class TCustomBaseMan;
class TCustomBase;
class TCustomCursor;

using TFilePathArray = std::vector<std::string>;

class TCustomBaseSet : public TChangeObject {
 public:
  // owner: the base manager; used, not owned, and outlives the set.
  explicit TCustomBaseSet(TCustomBaseMan* owner);
  ~TCustomBaseSet() override;

  // A new cursor owned by this set, with one Positions entry per open base,
  // on the first word.
  virtual TCustomCursor* CreateCursor() = 0;
  // A new base owned by this set, not attached to a table.
  virtual TCustomBase* CreateBase() = 0;

  // Re-locates every cursor on its own word, then delivers the change.
  void DoChange() override;
  // Inherited, then the same on every cursor.
  void BeginUpdate() override;
  void EndUpdate() override;

  // The plain names of the "*.dic" files of the dictionary folder (letter
  // case of the extension ignored; folders left out), in the order listed.
  void GetFileList(TFilePathArray& files) const;
  int NewCursor();
  void FreeCursor(int index);
  // Opens the file name (a plain name inside the dictionary folder) as a
  // new base; returns its index and, when handle is given, its window.
  int OpenBase(const std::string& name, win::HWND* handle = nullptr);
  void CloseBase(int index);
  void CreateBaseFile(const std::string& name, std::int32_t language, std::int32_t trans_language,
                      bool scramble, bool compress);
  void DeleteBaseFile(const std::string& name);

  TCustomBaseMan* BaseMan() const { return base_man_; }
  TNotifyList& BaseList() { return base_list_; }
  const TNotifyList& BaseList() const { return base_list_; }
  TNotifyList& CursorList() { return cursor_list_; }
  TCustomBase* Base(int index) const;
  TCustomCursor* Cursor(int index) const;
  int IndexOfBase(win::HWND handle) const;
  int IndexOfCursor(win::HWND handle) const;

  // The process of the client that asked for the set; 0 = unknown.
  win::DWORD ClientProcess() const { return client_process_; }
  void SetClientProcess(win::DWORD process) { client_process_ = process; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // The set's cursors now, for loops that send notifications (and may so
  // let the client change the list): each entry is checked with IsLive
  // before use.
  std::vector<TCustomCursor*> CursorSnapshot() const;
  bool IsLive(TCustomCursor* cursor) const;

  TCustomBaseMan* base_man_;
  TNotifyList cursor_list_;
  TNotifyList base_list_;
  win::DWORD client_process_ = 0;
};

class TBaseSet : public TCustomBaseSet {
 public:
  using TCustomBaseSet::TCustomBaseSet;

  // Item 102 = number of open bases, then item 1 = each base's window in
  // BaseList order; then sent as QM_STATE.
  void SendState() override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void BsListFiles(TMessage& message);
  void BsNewCursor(TMessage& message);
  void BsFreeCursor(TMessage& message);
  void BsOpenBase(TMessage& message);
  void BsCloseBase(TMessage& message);
  void BsCreateBaseFile(TMessage& message);
  void BsDeleteBaseFile(TMessage& message);
};

}  // namespace vandrel
