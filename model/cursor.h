// A cursor walks the word list of a whole base set as if its dictionaries
// were one: the union of the words of all open bases, in dictionary order
// (CompareWords), each distinct word once. At every position it knows the
// current word, the bases that hold it and a position number.
//
// Class chain: TCustomCursor (fields and navigation) -> TCursor (request
// handlers, the state sent to the client) -> TCustomVocabCursor ->
// TVocabCursor (vocab_cursor.h).
//
// The tables are shared by every cursor of every base set and a table has
// one navigation state, so each cursor keeps its own record number per
// base (Positions, at the base's index in the set) and puts the tables back
// on them (Sync) before it steps from its word.
//
// States: no word (Position -1, Word empty, no current bases) -> on a word
// (First, Last, Prior, Next, a locate; Position >= 1) -> found (Find,
// FindWide: Word set, Position -1). Prior and Next do nothing without a
// position.
//
// A navigation that fails on a table (a damaged file) leaves the cursor as
// it was before the request and raises ELocal code 223 naming the base and
// the word it was reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "platform/win_types.h"
#include "service/change_object.h"
#include "service/notify.h"

namespace vandrel {

class TCustomBase;
class TCustomBaseSet;
class TVocabTable;

class TCustomCursor : public TChangeObject {
 public:
  // owner: the base set; used, not owned. The cursor reads its BaseList.
  explicit TCustomCursor(TCustomBaseSet* owner);

  // Marks the change and sends the state. A cursor that was freed while it
  // waited for its client (its delete deferred) raises EAbort afterwards,
  // so that nothing runs on for a set that may be gone.
  void Changed() override;

  bool First();
  bool Last();
  bool Prior();
  bool Next();
  // The best match for text: the smallest word that begins with it, else
  // the largest word before it, else the smallest word after it.
  bool LocateWide(WideView text);
  // The same for an 8-bit text of unknown code page: each base reads it in
  // its own language's code page, and the base whose nearest word shares
  // the longest prefix with it decides.
  bool Locate(std::string_view text);
  // Exactly text, in every base that has it (Position -1 afterwards).
  bool FindWide(WideView text);
  bool Find(std::string_view text);
  // Copies the state of source, a cursor of the same base set.
  void Assign(const TCustomCursor& source);
  // Puts every base's table on this cursor's record number.
  void Sync();
  // First, for callers outside a cursor request: a table failure leaves
  // the cursor as it was and raises ELocal 223.
  bool MoveFirst();
  // Re-locates the cursor on its own word after its set changed. A table
  // failure leaves the cursor as it was (the next request reports it).
  void Relocate();

  TCustomBaseSet* BaseSet() const { return base_set_; }
  TNotifyList& CurrentBases() { return current_bases_; }
  const TNotifyList& CurrentBases() const { return current_bases_; }
  // One record number per base of the set; maintained by the set.
  std::vector<std::int32_t>& Positions() { return positions_; }
  const std::vector<std::int32_t>& Positions() const { return positions_; }
  std::int32_t Position() const { return position_; }
  const WideString& Word() const { return word_; }
  bool IsLast() const { return is_last_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // QM_CONNECT: inherited, then SendState.
  void QmConnect(TMessage& message);
  // Runs one navigation: on a table failure the state before it is put
  // back and ELocal 223 raised.
  template <class Operation>
  bool Navigate(Operation operation);
  // The base whose table the running operation touched last; null outside
  // table work.
  TCustomBase* touching_ = nullptr;
  // Remembers the state as sent to the client.
  void NoteSent();
  // Refuses requests to a cursor that its set has let go of while one of
  // its own requests was still running.
  void CheckLive() const;

 private:
  struct TSnapshot {
    std::vector<TNotifyObject*> bases;
    std::vector<std::int32_t> positions;
    std::int32_t position;
    WideString word;
    bool is_last;
  };
  TSnapshot Take() const;
  void Restore(const TSnapshot& snapshot);

  int BaseCount() const;
  TCustomBase* BaseAt(int index) const;
  // The table of base i; marks it as the one being touched.
  TVocabTable& TableAt(int index);
  void Record(int index);
  bool PassedOver(TVocabTable& table) const;
  WideString FirstWord();
  bool HasBases();
  // Leaves the cursor without a word (telling the client when that is news).
  void NoWord();
  // Puts a table whose Bof or Eof flag another cursor left set back on its
  // record, so that only an empty table reads as passed over.
  static void Settle(TVocabTable& table);
  bool TakeMin(int index);
  bool TakeMax(int index);
  bool TakePrefix(WideView text, int index);
  void SetWord(int index);
  void UpdatePosition();
  bool StateDiffersFromSent() const;

  TCustomBaseSet* base_set_;
  TNotifyList current_bases_;
  std::vector<std::int32_t> positions_;
  std::int32_t position_ = -1;
  WideString word_;
  bool is_last_ = false;
  // The locate mode of the running locate (-1, 0, 1).
  int mode_ = 0;

  // What the client was last sent (windows are never reused, pointers may
  // be).
  std::vector<win::HWND> sent_bases_;
  std::int32_t sent_position_ = -1;
  WideString sent_word_;
  bool sent_is_last_ = false;
};

class TCursor : public TCustomCursor {
 public:
  using TCustomCursor::TCustomCursor;

  // Item 102 = number of current bases, item 1 = each one's window, 118 =
  // Position, 116 = Word, 120 = IsLast; then sent as QM_STATE.
  void SendState() override;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  void CrFirst(TMessage& message);
  void CrLast(TMessage& message);
  void CrPrior(TMessage& message);
  void CrNext(TMessage& message);
  void CrLocate(TMessage& message);
  void CrFind(TMessage& message);
  void SearchRequest(bool (TCursor::*wide_search)(WideView),
                     bool (TCursor::*ansi_search)(std::string_view));
  void CrGetPosition(TMessage& message);
  void CrAssign(TMessage& message);
  void CrGetTrans(TMessage& message);
  void AnswerResult(bool result);
};

}  // namespace vandrel
