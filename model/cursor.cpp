// TCustomCursor and TCursor: merged navigation over the bases of a set, the
// state sent to the client and the cursor requests.
#include "model/cursor.h"

#include <exception>

#include "model/base.h"
#include "model/base_set.h"
#include "model/dictionary_folder.h"
#include "model/model_ids.h"
#include "model/vocab_table.h"
#include "platform/exceptions.h"
#include "protocol/page_ids.h"
#include "service/errors.h"
#include "service/query_ids.h"

namespace vandrel {
namespace {

// Leading positions, up to the shorter length, whose characters have equal
// primary and diacritic weights.
std::size_t CommonPrefixLength(WideView a, WideView b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && CharWeight(a[i], kWeightDiacritic) == CharWeight(b[i], kWeightDiacritic)) ++i;
  return i;
}

ELocal BodyFormatError(TCustomBase& base, TDicReader* reader, const char* what) {
  std::string name;
  std::string word;
  if (TVocabTable* table = base.Table()) {
    // The names are best effort: the file is damaged.
    try {
      name = WideToSystem(table->GetShortName());
    } catch (const std::exception&) {
    }
    try {
      if (reader != nullptr) word = WideToSystem(reader->GetWord());
    } catch (const std::exception&) {
    }
  }
  return ELocal(
      "Base \"" + name + "\", title \"" + word + "\". Error in stored body format.\r\n" + what,
      kErrBodyFormat);
}

}  // namespace

// ---- TCustomCursor ----

TCustomCursor::TCustomCursor(TCustomBaseSet* owner) : TChangeObject(owner), base_set_(owner) {}

const TMessageTable& TCustomCursor::MessageTable() {
  static const TMessageTable table("TCustomCursor", &TChangeObject::MessageTable(),
                                   {{QM_CONNECT, &TCustomCursor::QmConnect}});
  return table;
}

void TCustomCursor::QmConnect(TMessage& message) {
  CheckLive();
  Inherited<TCustomCursor>(message);
  SendState();
}

void TCustomCursor::CheckLive() const {
  if (FreePending()) throw ELocal("Unknown Cursor", kErrUnknownCursor);
}

void TCustomCursor::Changed() {
  touching_ = nullptr;
  if (hold_notifications_) return;
  TChangeObject::Changed();
  if (FreePending()) throw EAbort("cursor freed");
}

void TCustomCursor::NoteSent() {
  sent_bases_.clear();
  for (TNotifyObject* base : current_bases_.List()) sent_bases_.push_back(base->Handle());
  sent_position_ = position_;
  sent_word_ = word_;
  sent_is_last_ = is_last_;
}

bool TCustomCursor::StateDiffersFromSent() const {
  if (position_ != sent_position_ || is_last_ != sent_is_last_ || word_ != sent_word_ ||
      static_cast<std::size_t>(current_bases_.Count()) != sent_bases_.size())
    return true;
  for (int i = 0; i < current_bases_.Count(); ++i)
    if (current_bases_[i]->Handle() != sent_bases_[static_cast<std::size_t>(i)]) return true;
  return false;
}

void TCustomCursor::Take(TSnapshot& snapshot) const {
  // Assigned into the memory of an earlier snapshot: no allocation once
  // the cursor has stepped.
  const std::vector<TNotifyObject*>& bases = current_bases_.List();
  snapshot.bases.assign(bases.begin(), bases.end());
  snapshot.positions.resize(positions_.size());
  for (std::size_t i = 0; i < positions_.size(); ++i)
    snapshot.positions[i] = positions_[i].Uncached();
  snapshot.position = position_;
  snapshot.word.assign(word_);
  snapshot.is_last = is_last_;
}

void TCustomCursor::Restore(const TSnapshot& snapshot) {
  current_bases_.Clear();
  for (TNotifyObject* base : snapshot.bases) current_bases_.Add(base);
  positions_ = snapshot.positions;
  position_ = snapshot.position;
  word_ = snapshot.word;
  is_last_ = snapshot.is_last;
}

const TCustomCursor::TSnapshot& TCustomCursor::StepStart(TSnapshot& own) const {
  // The running step's snapshot, while it still shows the cursor's state
  // (a step that moved before calling this one needs a fresh one).
  if (navigate_depth_ > 0) {
    const TSnapshot& running = *snapshots_[navigate_depth_ - 1];
    if (running.word == word_ && running.bases == current_bases_.List()) return running;
  }
  Take(own);
  return own;
}

template <class Operation>
bool TCustomCursor::Navigate(Operation operation) {
  // No notification leaves the cursor before a failure (Changed clears
  // touching_), so the bases of the snapshot are all alive when it is put
  // back.
  // A step may run inside another one's notification: each depth keeps
  // its own snapshot.
  if (snapshots_.size() <= navigate_depth_) snapshots_.push_back(std::make_unique<TSnapshot>());
  TSnapshot& before = *snapshots_[navigate_depth_];
  Take(before);
  ++navigate_depth_;
  // Leaving lets go of the snapshot's files (a merge replaces a file only
  // once nothing maps it) but keeps its memory.
  struct TLeave {
    std::size_t& depth;
    TSnapshot& snapshot;
    ~TLeave() {
      --depth;
      snapshot.positions.clear();
    }
  } leave{navigate_depth_, before};
  touching_ = nullptr;
  skipped_.clear();
  try {
    return operation();
  } catch (const EAbort&) {
    touching_ = nullptr;
    throw;
  } catch (const ELocal&) {
    touching_ = nullptr;
    throw;
  } catch (const std::exception& e) {
    TCustomBase* base = touching_;
    touching_ = nullptr;
    if (base == nullptr) throw;
    Restore(before);
    const int index = base_set_->BaseList().IndexOf(base);
    TDicReader* reader = index >= 0 && static_cast<std::size_t>(index) < positions_.size()
                             ? &positions_[static_cast<std::size_t>(index)]
                             : nullptr;
    throw BodyFormatError(*base, reader, e.what());
  }
}

void TCustomCursor::InsertBase(int index) {
  positions_.insert(positions_.begin() + index, TDicReader());
}

void TCustomCursor::DeleteBase(int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < positions_.size())
    positions_.erase(positions_.begin() + index);
}

void TCustomCursor::ResetBases(int count) {
  positions_.assign(static_cast<std::size_t>(count), TDicReader());
}

int TCustomCursor::BaseCount() const {
  const int count = base_set_->BaseList().Count();
  if (static_cast<std::size_t>(count) != positions_.size())
    throw Exception("Cursor positions out of step with the base set");
  return count;
}

TCustomBase* TCustomCursor::BaseAt(int index) const { return base_set_->Base(index); }

TVocabTable& TCustomCursor::TableAt(int index) {
  TCustomBase* base = BaseAt(index);
  touching_ = base;
  TVocabTable* table = base->Table();
  if (table == nullptr) throw Exception("Base has no table");
  return *table;
}

TDicReader& TCustomCursor::ReaderAt(int index) {
  const TVocabTable& table = TableAt(index);
  TDicReader& reader = positions_[static_cast<std::size_t>(index)];
  if (reader.File() != table.File()) {
    // The table was reopened (its file rewritten) since this position last
    // read it: the same record of the new file.
    const bool placed = reader.RecordCount() > 0;
    const std::int32_t rec = reader.RecNo();
    reader = TDicReader(table.File());
    if (placed) reader.SetRecNo(rec);
  }
  return reader;
}

template <class Step>
bool TCustomCursor::OnBase(int index, Step step) {
  TVocabTable& table = TableAt(index);
  TDicReader& reader = ReaderAt(index);
  const TDicReader::TMark before = reader.Mark();
  try {
    step(reader);
    return true;
  } catch (const EAbort&) {
    throw;
  } catch (const ELocal&) {
    throw;
  } catch (const std::exception& e) {
    positions_[static_cast<std::size_t>(index)].Restore(before);
    table.ReportDamage(e);
    skipped_.push_back({BaseAt(index)->Handle(), DamageSummary(table.FileName, e)});
    return false;
  }
}

bool TCustomCursor::HasBases() {
  if (BaseCount() > 0) return true;
  current_bases_.Clear();
  word_.clear();
  position_ = -1;
  is_last_ = false;
  Changed();
  return false;
}

void TCustomCursor::NoWord() {
  current_bases_.Clear();
  word_.clear();
  position_ = -1;
  is_last_ = false;
  if (StateDiffersFromSent()) Changed();
}

void TCustomCursor::SetWord(int index, TDicReader& reader) {
  word_ = reader.GetWord();
  current_bases_.Clear();
  current_bases_.Add(BaseAt(index));
}

bool TCustomCursor::TakeMin(int index, TDicReader& reader) {
  // Only an empty dictionary is passed over: positions are this cursor's
  // own, so no other reader leaves Bof and Eof set on a file with words.
  if (reader.RecordCount() == 0) return false;
  const WideString& word = reader.GetWord();
  if (current_bases_.Count() == 0) {
    SetWord(index, reader);
    return true;
  }
  // word_ is the word of the first current base.
  const int c = CompareWords(word_, word);
  if (c == 0) {
    current_bases_.Add(BaseAt(index));
    return true;
  }
  if (c > 0) {
    SetWord(index, reader);
    return true;
  }
  return false;
}

bool TCustomCursor::TakeMax(int index, TDicReader& reader) {
  if (reader.RecordCount() == 0) return false;
  const WideString& word = reader.GetWord();
  if (current_bases_.Count() == 0) {
    SetWord(index, reader);
    return true;
  }
  const int c = CompareWords(word_, word);
  if (c == 0) {
    current_bases_.Add(BaseAt(index));
    return true;
  }
  if (c < 0) {
    SetWord(index, reader);
    return true;
  }
  return false;
}

bool TCustomCursor::TakePrefix(WideView text, int index, TDicReader& reader) {
  if (reader.RecordCount() == 0) return false;
  const WideString& word = reader.GetWord();
  const WideView head = WideView(word).substr(0, text.size());
  const int c = CompareWeighted(head, text, kWeightPrimary);
  if (current_bases_.Count() == 0) {
    SetWord(index, reader);
    mode_ = c;
    return true;
  }
  if (c == 0) {
    if (mode_ != 0) {
      current_bases_.Clear();
      mode_ = 0;
    }
    return TakeMin(index, reader);
  }
  if (c < 0) {
    if (mode_ == 0) return false;
    if (mode_ == 1) {
      current_bases_.Clear();
      mode_ = -1;
    }
    return TakeMax(index, reader);
  }
  if (mode_ == 1) return TakeMin(index, reader);
  return false;
}

void TCustomCursor::AlignOnWord() {
  current_bases_.Clear();
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    bool holds = false;
    OnBase(i, [&](TDicReader& reader) {
      if (reader.RecordCount() == 0) return;
      // Words are unique in a file: a base on Word stands right already.
      if (CompareWords(reader.GetWord(), word_) != 0) reader.Seek(word_);
      holds = CompareWords(reader.GetWord(), word_) == 0;
    });
    if (holds) current_bases_.Add(BaseAt(i));
  }
}

void TCustomCursor::UpdatePosition() {
  bool is_last = true;
  std::int32_t sum = 0;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    OnBase(i, [&](TDicReader& reader) {
      // An empty dictionary has no entries to count and no last record.
      if (reader.RecordCount() == 0) return;
      const bool after = CompareWords(reader.GetWord(), word_) > 0;
      sum += reader.RecNo() + 1;
      if (after) --sum;
      // A base still has a word to come when it stands before its last
      // record, or on a last word greater than Word.
      if (reader.RecNo() != reader.RecordCount() - 1 || after) is_last = false;
    });
  }
  touching_ = nullptr;
  is_last_ = is_last;
  const bool moved = sum != position_;
  position_ = sum;
  if (moved || StateDiffersFromSent()) Changed();
}

bool TCustomCursor::First() {
  if (!HasBases()) return false;
  current_bases_.Clear();
  bool took = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    OnBase(i, [&](TDicReader& reader) {
      reader.First();
      if (TakeMin(i, reader)) took = true;
    });
  }
  if (took)
    UpdatePosition();
  else
    NoWord();
  return took;
}

bool TCustomCursor::Last() {
  if (!HasBases()) return false;
  current_bases_.Clear();
  bool took = false;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    OnBase(i, [&](TDicReader& reader) {
      reader.Last();
      if (TakeMax(i, reader)) took = true;
    });
  }
  if (took)
    UpdatePosition();
  else
    NoWord();
  return took;
}

bool TCustomCursor::Prior() {
  if (!HasBases()) return false;
  if (position_ == -1) return false;
  // The bases and the word stepped from, as the step's snapshot holds them.
  TSnapshot own;
  const TSnapshot& start = StepStart(own);
  const WideString& key = start.word;
  current_bases_.Clear();
  bool took = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    OnBase(i, [&](TDicReader& reader) {
      if (reader.RecordCount() == 0) return;
      if (CompareWords(reader.GetWord(), key) < 0) {
        if (TakeMax(i, reader)) took = true;
      } else {
        reader.Prior();
        if (!reader.Bof() && TakeMax(i, reader)) took = true;
      }
    });
  }
  if (current_bases_.Count() == 0) {
    for (TNotifyObject* base : start.bases) current_bases_.Add(base);
    word_ = key;
  }
  if (took) UpdatePosition();
  return took;
}

bool TCustomCursor::Next() {
  if (!HasBases()) return false;
  if (position_ == -1) return false;
  // The bases and the word stepped from, as the step's snapshot holds them.
  TSnapshot own;
  const TSnapshot& start = StepStart(own);
  const WideString& key = start.word;
  current_bases_.Clear();
  bool took = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    OnBase(i, [&](TDicReader& reader) {
      if (reader.RecordCount() == 0) return;
      if (CompareWords(reader.GetWord(), key) > 0) {
        if (TakeMin(i, reader)) took = true;
      } else {
        reader.Next();
        if (!reader.Eof() && TakeMin(i, reader)) took = true;
      }
    });
  }
  if (current_bases_.Count() == 0) {
    for (TNotifyObject* base : start.bases) current_bases_.Add(base);
    word_ = key;
  }
  if (took) UpdatePosition();
  return took;
}

bool TCustomCursor::LocateWide(WideView text) {
  if (!HasBases()) return false;
  current_bases_.Clear();
  bool took = false;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    OnBase(i, [&](TDicReader& reader) {
      reader.FindNearest(text);
      if (TakePrefix(text, i, reader)) took = true;
    });
  }
  if (!took) {
    NoWord();
    return false;
  }
  AlignOnWord();
  UpdatePosition();
  return true;
}

bool TCustomCursor::Locate(std::string_view text) {
  if (!HasBases()) return false;
  current_bases_.Clear();
  WideString best;
  std::size_t max = 0;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    const WideString key = AnsiToWide(TableAt(i).Language(), text);
    OnBase(i, [&](TDicReader& reader) {
      reader.FindNearest(key);
      const std::size_t shared = CommonPrefixLength(reader.GetWord(), key);
      if (shared > max) {
        max = shared;
        best = key;
      }
    });
  }
  // Nothing in common anywhere: the first word (false only when every
  // dictionary of the set is empty).
  if (max == 0) return First();
  bool took = false;
  for (int i = 0; i < count; ++i) {
    OnBase(i, [&](TDicReader& reader) {
      reader.FindNearest(best);
      if (TakePrefix(best, i, reader)) took = true;
    });
  }
  if (!took) {
    NoWord();
    return false;
  }
  AlignOnWord();
  UpdatePosition();
  return true;
}

bool TCustomCursor::FindWide(WideView text) {
  if (!HasBases()) return false;
  // An empty text finds nothing and leaves the cursor as it was.
  if (text.empty()) return false;
  word_.clear();
  position_ = -1;
  current_bases_.Clear();
  bool found = false;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    bool here = false;
    OnBase(i, [&](TDicReader& reader) {
      here = reader.FindExact(text);
      // A base without the word stands where a locate of it would leave it.
      if (!here && reader.RecordCount() > 0) reader.Seek(text);
    });
    if (here) {
      current_bases_.Add(BaseAt(i));
      found = true;
    }
  }
  if (found) word_ = WideString(text);
  Changed();
  return found;
}

bool TCustomCursor::Find(std::string_view text) {
  if (!HasBases()) return false;
  if (text.empty()) return false;
  word_.clear();
  position_ = -1;
  current_bases_.Clear();
  bool found = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    const WideString key = AnsiToWide(TableAt(i).Language(), text);
    if (!word_.empty() && CompareWords(key, word_) != 0) continue;
    bool here = false;
    OnBase(i, [&](TDicReader& reader) {
      here = reader.FindExact(key);
      if (!here && reader.RecordCount() > 0) reader.Seek(key);
    });
    if (here) {
      word_ = key;
      current_bases_.Add(BaseAt(i));
      found = true;
    }
  }
  Changed();
  return found;
}

void TCustomCursor::Assign(const TCustomCursor& source) {
  // The same position number is the same word; -1 names none.
  if (source.position_ == position_ && position_ != -1) return;
  if (source.base_set_ != base_set_ || source.positions_.size() != positions_.size())
    throw ELocal("Unknown Cursor", kErrUnknownCursor);
  positions_ = source.positions_;
  current_bases_.Clear();
  for (TNotifyObject* base : source.current_bases_.List()) current_bases_.Add(base);
  position_ = source.position_;
  word_ = source.word_;
  is_last_ = source.is_last_;
  Changed();
}

WideString TCustomCursor::Translation(TCustomBase* base) {
  if (current_bases_.IndexOf(base) < 0) return {};
  const int index = base_set_->BaseList().IndexOf(base);
  if (index < 0) return {};
  TVocabTable& table = TableAt(index);
  TDicReader& reader = ReaderAt(index);
  try {
    WideString trans = reader.GetTrans();
    touching_ = nullptr;
    return trans;
  } catch (const EAbort&) {
    throw;
  } catch (const ELocal&) {
    throw;
  } catch (const std::exception& e) {
    touching_ = nullptr;
    table.ReportDamage(e);
    throw BodyFormatError(*base, &reader, e.what());
  }
}

bool TCustomCursor::MoveFirst() {
  return Navigate([this] { return First(); });
}

void TCustomCursor::Relocate() {
  const WideString word = word_;
  try {
    Navigate([&] { return LocateWide(word); });
  } catch (const ELocal&) {
    // A damaged table: the cursor stays where it was.
  } catch (const EAbort&) {
    // The cursor was let go of while its client was told.
  }
}

bool TCustomCursor::StepNext() {
  return Navigate([this] { return Next(); });
}

bool TCustomCursor::StepLocate(WideView text, bool wide) {
  if (wide) return Navigate([&] { return LocateWide(text); });
  const std::string bytes = WideToSystem(WideString(text));
  return Navigate([&] { return Locate(bytes); });
}

WideString TCustomCursor::StepTranslation(TCustomBase* base) {
  WideString trans;
  Navigate([&] {
    trans = Translation(base);
    return true;
  });
  return trans;
}

void TCustomCursor::ReleaseNotifications() {
  hold_notifications_ = false;
  if (StateDiffersFromSent()) Changed();
}

void TCustomCursor::WriteSentState() {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemCount, static_cast<std::int32_t>(sent_bases_.size()));
  for (win::HWND base : sent_bases_) out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
  out.WriteInteger(kItemPosition, sent_position_);
  out.WriteWideString(kItemWord, sent_word_);
  out.WriteInteger(kItemIsLast, sent_is_last_ ? 1 : 0);
}

void TCustomCursor::SettleCarried() {
  if (Carrying() && StateDiffersFromSent()) SendCarried();
}

// ---- TCursor ----

const TMessageTable& TCursor::MessageTable() {
  static const TMessageTable table("TCursor", &TCustomCursor::MessageTable(),
                                   {
                                       {CR_FIRST, &TCursor::CrFirst},
                                       {CR_LAST, &TCursor::CrLast},
                                       {CR_PRIOR, &TCursor::CrPrior},
                                       {CR_NEXT, &TCursor::CrNext},
                                       {CR_LOCATE, &TCursor::CrLocate},
                                       {CR_FIND, &TCursor::CrFind},
                                       {CR_GET_POSITION, &TCursor::CrGetPosition},
                                       {CR_ASSIGN, &TCursor::CrAssign},
                                       {CR_GET_TRANS, &TCursor::CrGetTrans},
                                       {CR_LOOKUP, &TCursor::CrLookup},
                                       {CR_PAGE, &TCursor::CrPage},
                                   });
  return table;
}

void TCursor::SendState() {
  if (Carrying()) {
    // Sends what an earlier step kept (written from the state noted then),
    // and keeps this one.
    TCustomCursor::SendState();
    NoteSent();
    return;
  }
  NoteSent();
  WriteSentState();
  TCustomCursor::SendState();
}

void TCursor::AnswerResult(bool result) {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemResult, result ? 1 : 0);
  for (const TSkipped& skipped : Skipped()) {
    out.WriteInteger(kItemSkippedBase, static_cast<std::int32_t>(skipped.base));
    out.WriteWideString(kItemSkippedWhy, SystemToWide(skipped.summary));
  }
}

void TCursor::CrFirst(TMessage&) {
  CheckLive();
  AnswerResult(Navigate([this] { return First(); }));
}

void TCursor::CrLast(TMessage&) {
  CheckLive();
  AnswerResult(Navigate([this] { return Last(); }));
}

void TCursor::CrPrior(TMessage&) {
  CheckLive();
  AnswerResult(Navigate([this] { return Prior(); }));
}

void TCursor::CrNext(TMessage&) {
  CheckLive();
  AnswerResult(Navigate([this] { return Next(); }));
}

// CR_LOCATE and CR_FIND: the text (item 116) and the wide flag (item 123,
// low byte); a zero flag takes the text in the system's 8-bit code page.
void TCursor::SearchRequest(bool (TCursor::*wide_search)(WideView),
                            bool (TCursor::*ansi_search)(std::string_view)) {
  CheckLive();
  const WideString text = Transfer().ReadWideString(kItemWord);
  const bool wide = (Transfer().ReadInteger(kItemWideFlag) & 0xFF) != 0;
  if (wide) {
    AnswerResult(Navigate([&] { return (this->*wide_search)(text); }));
  } else {
    const std::string bytes = WideToSystem(text);
    AnswerResult(Navigate([&] { return (this->*ansi_search)(bytes); }));
  }
}

void TCursor::CrLocate(TMessage&) { SearchRequest(&TCursor::LocateWide, &TCursor::Locate); }

void TCursor::CrFind(TMessage&) { SearchRequest(&TCursor::FindWide, &TCursor::Find); }

void TCursor::CrGetPosition(TMessage&) {
  CheckLive();
  Transfer().ResetWrite();
  Transfer().WriteInteger(kItemResult, Position());
}

void TCursor::CrAssign(TMessage&) {
  CheckLive();
  const auto handle = static_cast<win::HWND>(Transfer().ReadInteger(kItemHandle));
  // Only a cursor of this very set qualifies, found by its window in the
  // set's own list.
  const int index = BaseSet()->IndexOfCursor(handle);
  if (index < 0) throw ELocal("Unknown Cursor", kErrUnknownCursor);
  Assign(*BaseSet()->Cursor(index));
  Transfer().ResetWrite();
}

void TCursor::CrGetTrans(TMessage&) {
  CheckLive();
  const auto handle = static_cast<win::HWND>(Transfer().ReadInteger(kItemHandle));
  TCustomBase* found = nullptr;
  for (int i = CurrentBases().Count() - 1; i >= 0; --i) {
    if (CurrentBases()[i]->Handle() == handle) {
      found = static_cast<TCustomBase*>(CurrentBases()[i]);
      break;
    }
  }
  WideString trans;
  if (found != nullptr) {
    Navigate([&] {
      trans = Translation(found);
      return true;
    });
  }
  Transfer().ResetWrite();
  Transfer().WriteWideString(kItemTrans, trans);
}

}  // namespace vandrel
