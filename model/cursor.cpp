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

ELocal BodyFormatError(TCustomBase& base, const char* what) {
  std::string name;
  std::string word;
  if (TVocabTable* table = base.Table()) {
    // The names are best effort: the file is damaged.
    try {
      name = WideToSystem(table->GetShortName());
    } catch (const std::exception&) {
    }
    try {
      word = WideToSystem(table->GetWord());
    } catch (const std::exception&) {
    }
  }
  return ELocal("Base \"" + name + "\", title \"" + word +
                    "\". Error in stored body format.\r\n" + what,
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

TCustomCursor::TSnapshot TCustomCursor::Take() const {
  return TSnapshot{current_bases_.List(), positions_, position_, word_, is_last_};
}

void TCustomCursor::Restore(const TSnapshot& snapshot) {
  current_bases_.Clear();
  for (TNotifyObject* base : snapshot.bases) current_bases_.Add(base);
  positions_ = snapshot.positions;
  position_ = snapshot.position;
  word_ = snapshot.word;
  is_last_ = snapshot.is_last;
}

template <class Operation>
bool TCustomCursor::Navigate(Operation operation) {
  // No notification leaves the cursor before a table failure (Changed
  // clears touching_), so the bases of the snapshot are all alive when it
  // is put back.
  const TSnapshot before = Take();
  touching_ = nullptr;
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
    throw BodyFormatError(*base, e.what());
  }
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

void TCustomCursor::Record(int index) {
  positions_[static_cast<std::size_t>(index)] = TableAt(index).RecNo();
}

bool TCustomCursor::PassedOver(TVocabTable& table) const { return table.Bof() && table.Eof(); }

void TCustomCursor::Settle(TVocabTable& table) {
  if (table.RecordCount() > 0 && (table.Bof() || table.Eof())) table.SetRecNo(table.RecNo());
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

void TCustomCursor::SetWord(int index) {
  current_bases_.Clear();
  current_bases_.Add(BaseAt(index));
  word_ = TableAt(index).GetWord();
}

bool TCustomCursor::TakeMin(int index) {
  TVocabTable& table = TableAt(index);
  if (PassedOver(table)) return false;
  if (current_bases_.Count() == 0) {
    SetWord(index);
    return true;
  }
  // word_ is the word of the first current base.
  const int c = CompareWords(word_, table.GetWord());
  if (c == 0) {
    current_bases_.Add(BaseAt(index));
    return true;
  }
  if (c > 0) {
    SetWord(index);
    return true;
  }
  return false;
}

bool TCustomCursor::TakeMax(int index) {
  TVocabTable& table = TableAt(index);
  if (PassedOver(table)) return false;
  if (current_bases_.Count() == 0) {
    SetWord(index);
    return true;
  }
  const int c = CompareWords(word_, table.GetWord());
  if (c == 0) {
    current_bases_.Add(BaseAt(index));
    return true;
  }
  if (c < 0) {
    SetWord(index);
    return true;
  }
  return false;
}

bool TCustomCursor::TakePrefix(WideView text, int index) {
  TVocabTable& table = TableAt(index);
  if (PassedOver(table)) return false;
  const WideString word = table.GetWord();
  const WideView head = WideView(word).substr(0, text.size());
  const int c = CompareWeighted(head, text, kWeightPrimary);
  if (current_bases_.Count() == 0) {
    SetWord(index);
    mode_ = c;
    return true;
  }
  if (c == 0) {
    if (mode_ != 0) {
      current_bases_.Clear();
      mode_ = 0;
    }
    return TakeMin(index);
  }
  if (c < 0) {
    if (mode_ == 0) return false;
    if (mode_ == 1) {
      current_bases_.Clear();
      mode_ = -1;
    }
    return TakeMax(index);
  }
  if (mode_ == 1) return TakeMin(index);
  return false;
}

void TCustomCursor::UpdatePosition() {
  bool is_last = true;
  std::int32_t sum = 0;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    TVocabTable& table = TableAt(i);
    // An empty dictionary has no entries to count and no last record.
    if (table.RecordCount() == 0) continue;
    sum += table.RecNo() + 1;
    if (CompareWords(table.GetWord(), word_) > 0) --sum;
    if (table.RecNo() != table.RecordCount() - 1) is_last = false;
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
    TableAt(i).First();
    Record(i);
    if (TakeMin(i)) took = true;
  }
  if (took) UpdatePosition();
  else NoWord();
  return took;
}

bool TCustomCursor::Last() {
  if (!HasBases()) return false;
  current_bases_.Clear();
  bool took = false;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    TableAt(i).Last();
    Record(i);
    if (TakeMax(i)) took = true;
  }
  if (took) UpdatePosition();
  else NoWord();
  return took;
}

void TCustomCursor::Sync() {
  for (int i = BaseCount() - 1; i >= 0; --i) {
    TVocabTable& table = TableAt(i);
    const std::int32_t position = positions_[static_cast<std::size_t>(i)];
    if (position != table.RecNo() || table.Bof() || table.Eof()) table.SetRecNo(position);
  }
  touching_ = nullptr;
}

bool TCustomCursor::Prior() {
  if (!HasBases()) return false;
  if (position_ == -1) return false;
  Sync();
  const std::vector<TNotifyObject*> old = current_bases_.List();
  current_bases_.Clear();
  const WideString key = word_;
  bool took = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    TVocabTable& table = TableAt(i);
    if (CompareWords(table.GetWord(), key) < 0) {
      if (TakeMax(i)) took = true;
    } else {
      table.Prior();
      if (!table.Bof()) {
        Record(i);
        if (TakeMax(i)) took = true;
      }
    }
  }
  if (current_bases_.Count() == 0)
    for (TNotifyObject* base : old) current_bases_.Add(base);
  if (took) UpdatePosition();
  return took;
}

bool TCustomCursor::Next() {
  if (!HasBases()) return false;
  if (position_ == -1) return false;
  Sync();
  const std::vector<TNotifyObject*> old = current_bases_.List();
  current_bases_.Clear();
  const WideString key = word_;
  bool took = false;
  for (int i = BaseCount() - 1; i >= 0; --i) {
    TVocabTable& table = TableAt(i);
    if (CompareWords(table.GetWord(), key) > 0) {
      if (TakeMin(i)) took = true;
    } else {
      table.Next();
      if (!table.Eof()) {
        Record(i);
        if (TakeMin(i)) took = true;
      }
    }
  }
  if (current_bases_.Count() == 0)
    for (TNotifyObject* base : old) current_bases_.Add(base);
  if (took) UpdatePosition();
  return took;
}

bool TCustomCursor::LocateWide(WideView text) {
  if (!HasBases()) return false;
  current_bases_.Clear();
  bool took = false;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    TVocabTable& table = TableAt(i);
    Settle(table);
    table.FindNearest(text);
    Record(i);
    if (TakePrefix(text, i)) took = true;
  }
  if (took) UpdatePosition();
  else NoWord();
  return took;
}

bool TCustomCursor::Locate(std::string_view text) {
  if (!HasBases()) return false;
  current_bases_.Clear();
  WideString best;
  std::size_t max = 0;
  const int count = BaseCount();
  for (int i = 0; i < count; ++i) {
    TVocabTable& table = TableAt(i);
    const WideString key = AnsiToWide(table.Language(), text);
    Settle(table);
    table.FindNearest(key);
    const std::size_t shared = CommonPrefixLength(table.GetWord(), key);
    if (shared > max) {
      max = shared;
      best = key;
    }
  }
  // Nothing in common anywhere: the first word (false only when every
  // dictionary of the set is empty).
  if (max == 0) return First();
  for (int i = 0; i < count; ++i) {
    TVocabTable& table = TableAt(i);
    Settle(table);
    table.FindNearest(best);
    Record(i);
    TakePrefix(best, i);
  }
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
    TVocabTable& table = TableAt(i);
    Settle(table);
    if (table.FindExact(text)) {
      current_bases_.Add(BaseAt(i));
      Record(i);
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
    TVocabTable& table = TableAt(i);
    const WideString key = AnsiToWide(table.Language(), text);
    if (!word_.empty() && CompareWords(key, word_) != 0) continue;
    Settle(table);
    if (table.FindExact(key)) {
      word_ = key;
      Record(i);
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
                                   });
  return table;
}

void TCursor::SendState() {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemCount, CurrentBases().Count());
  for (TNotifyObject* base : CurrentBases().List())
    out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base->Handle()));
  out.WriteInteger(kItemPosition, Position());
  out.WriteWideString(kItemWord, Word());
  out.WriteInteger(kItemIsLast, IsLast() ? 1 : 0);
  NoteSent();
  TCustomCursor::SendState();
}

void TCursor::AnswerResult(bool result) {
  Transfer().ResetWrite();
  Transfer().WriteInteger(kItemResult, result ? 1 : 0);
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
      Sync();
      touching_ = found;
      TVocabTable* table = found->Table();
      if (table == nullptr) throw Exception("Base has no table");
      trans = table->GetTrans();
      touching_ = nullptr;
      return true;
    });
  }
  Transfer().ResetWrite();
  Transfer().WriteWideString(kItemTrans, trans);
}

}  // namespace vandrel
