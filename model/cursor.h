// A cursor walks the word list of a whole base set as if its dictionaries
// were one: the union of the words of all open bases, in dictionary order
// (CompareWords), each distinct word once. At every position it knows the
// current word, the bases that hold it and a position number.
//
// Class chain: TCustomCursor (fields and navigation) -> TCursor (request
// handlers, the state sent to the client) -> TCustomVocabCursor ->
// TVocabCursor (vocab_cursor.h).
//
// The dictionary files are shared by every cursor of every base set; each
// cursor reads them through reader positions of its own (Positions, one
// per base at the base's index in the set), so no cursor moves another.
//
// The positions stay consistent with the current word: after every
// operation each base stands on its last word not greater than Word, or on
// its smallest word greater than Word (before its first word, or after a
// Next that passed Word), so that Next gives the smallest word greater
// than Word across all bases and Prior the largest smaller one.
//
// States: no word (Position -1, Word empty, no current bases) -> on a word
// (First, Last, Prior, Next, a locate; Position >= 1) -> found (Find,
// FindWide: Word set, Position -1). Prior and Next do nothing without a
// position.
//
// A damaged dictionary does not stop the others: a base whose file fails
// during a step is passed over for that step, its failure written to the
// error log once and listed in Skipped() (the request's answer carries the
// list, model_ids.h). A translation that cannot be read raises ELocal code
// 223 naming the base and the word.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/dic_reader.h"
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
  // First, for callers outside a cursor request: a table failure leaves
  // the cursor as it was and raises ELocal 223.
  bool MoveFirst();
  // Re-locates the cursor on its own word after its set changed. A table
  // failure leaves the cursor as it was (the next request reports it).
  void Relocate();

  TCustomBaseSet* BaseSet() const { return base_set_; }
  TNotifyList& CurrentBases() { return current_bases_; }
  const TNotifyList& CurrentBases() const { return current_bases_; }
  // One reader position per base of the set, at the base's index.
  const std::vector<TDicReader>& Positions() const { return positions_; }
  // The set keeps the positions in step with its bases: a new base at
  // index gets a position on its first record, a closed base's position
  // goes; ResetBases gives every base a fresh position.
  void InsertBase(int index);
  void DeleteBase(int index);
  void ResetBases(int count);
  // The translation of the current word in base (one of CurrentBases);
  // empty when base is not among them.
  WideString Translation(TCustomBase* base);

  // A base passed over during the last operation because its file failed:
  // the base and "<file>: damaged (<place>)".
  struct TSkipped {
    win::HWND base;
    std::string summary;
  };
  const std::vector<TSkipped>& Skipped() const { return skipped_; }
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

  // Steps of the requests that run several (protocol/page_ids.h), each as
  // its own request runs it: a table failure puts the state before the
  // step back and raises ELocal 223.
  bool StepNext();
  // wide = false reads text in the system's 8-bit code page.
  bool StepLocate(WideView text, bool wide);
  WideString StepTranslation(TCustomBase* base);
  // While held, changes of the state are not sent; the release sends the
  // state once when it differs from the one the client was sent last.
  void HoldNotifications() { hold_notifications_ = true; }
  void ReleaseNotifications();
  // Writes the state the client was last sent (or is to be carried):
  // item 102 = number of bases, item 1 = each one's window, 118 =
  // Position, 116 = Word, 120 = IsLast.
  void WriteSentState();
  void WriteCarriedState() override { WriteSentState(); }
  // Before an answer that carries the notifications writes the current
  // state: sends the kept ones at once if the cursor has moved on since
  // (the answer's state would not be the one kept).
  void SettleCarried();

 private:
  // What a failed step puts back. The positions are kept without their
  // cached words, so taking one before every step costs little.
  struct TSnapshot {
    std::vector<TNotifyObject*> bases;
    std::vector<TDicReader> positions;
    std::int32_t position;
    WideString word;
    bool is_last;
  };
  void Take(TSnapshot& snapshot) const;
  // The state now, as the running step's snapshot holds it, or taken into
  // own when there is no such snapshot or the step has moved since.
  const TSnapshot& StepStart(TSnapshot& own) const;
  void Restore(const TSnapshot& snapshot);

  int BaseCount() const;
  TCustomBase* BaseAt(int index) const;
  // The table of base i; marks it as the one being touched.
  TVocabTable& TableAt(int index);
  // This cursor's position in base i's file, moved onto the table's file
  // first when the table was reopened since (same record number).
  TDicReader& ReaderAt(int index);
  // Runs step on base i's position. When the file fails, the position is
  // put back, the failure reported and the base passed over: false.
  template <class Step>
  bool OnBase(int index, Step step);
  bool HasBases();
  // Leaves the cursor without a word (telling the client when that is news).
  void NoWord();
  bool TakeMin(int index, TDicReader& reader);
  bool TakeMax(int index, TDicReader& reader);
  bool TakePrefix(WideView text, int index, TDicReader& reader);
  void SetWord(int index, TDicReader& reader);
  // After a locate chose Word: puts every base on its last word not
  // greater than Word (or its first word) and makes the bases that hold
  // Word the current ones, in the set's order.
  void AlignOnWord();
  void UpdatePosition();
  bool StateDiffersFromSent() const;

  TCustomBaseSet* base_set_;
  TNotifyList current_bases_;
  std::vector<TDicReader> positions_;
  std::vector<TSkipped> skipped_;
  // The snapshots of the steps running, by depth (kept for their memory).
  std::vector<std::unique_ptr<TSnapshot>> snapshots_;
  std::size_t navigate_depth_ = 0;
  std::int32_t position_ = -1;
  WideString word_;
  bool is_last_ = false;
  // The locate mode of the running locate (-1, 0, 1).
  int mode_ = 0;
  bool hold_notifications_ = false;

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

  // The state (WriteSentState), sent as QM_STATE, or kept for the answer
  // while carrying.
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
  void CrLookup(TMessage& message);  // protocol/page_ids.h
  void CrPage(TMessage& message);    // protocol/page_ids.h
  // Items 102, 128, 129 of CR_LOOKUP and CR_PAGE.
  void WriteSkipped(const std::vector<TSkipped>& skipped);
  // Whether a CR_LOOKUP or CR_PAGE with these flags (item 123 or 133) has
  // its answer carry the notifications.
  bool CarryFor(const TMessage& message, std::int32_t flags);
  // Item 101 = result, then the bases passed over (item 128 = a base's
  // window, 129 = its summary, for each).
  void AnswerResult(bool result);
};

}  // namespace vandrel
