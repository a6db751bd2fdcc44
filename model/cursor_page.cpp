// CR_LOOKUP and CR_PAGE on a cursor: the steps of CR_LOCATE, CR_NEXT and
// CR_GET_TRANS run in one request, their answers gathered in one reply.
#include <algorithm>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/base.h"
#include "model/cursor.h"
#include "model/dictionary_folder.h"
#include "model/model_ids.h"
#include "protocol/page_ids.h"
#include "service/errors.h"
#include "service/transfer_man.h"

namespace vandrel {
namespace {

// A translation as CR_GET_TRANS would answer it: the text, or the code and
// text of its error.
struct TTransAnswer {
  std::int32_t code = 0;
  WideString text;
};

struct TPageWord {
  WideString word;
  std::int32_t position = -1;
  std::vector<TCustomBase*> bases;
  std::vector<TTransAnswer> trans;  // empty without translations
};

std::vector<TCustomBase*> HoldingBases(const TNotifyList& list) {
  std::vector<TCustomBase*> bases;
  bases.reserve(static_cast<std::size_t>(list.Count()));
  for (TNotifyObject* base : list.List()) bases.push_back(static_cast<TCustomBase*>(base));
  return bases;
}

// The answer grows the channel's buffer once, to its whole size and at
// least twice the old one: every growth of a buffer makes a new
// shared-memory object, which the client maps anew, so answers a little
// longer than the last do not each pay for one.
void Reserve(TTransferMan& out, std::size_t size) {
  const auto have = static_cast<std::size_t>(out.BufferSize());
  if (size <= have || size >= kMaxPeerBufferSize) return;
  out.Grow(static_cast<std::int32_t>(std::min(std::max(size, 2 * have), kMaxPeerBufferSize - 1)));
}

std::size_t ItemSize(std::size_t value_bytes) { return kItemHeaderSize + value_bytes; }

}  // namespace

void TCursor::WriteSkipped(const std::vector<TSkipped>& skipped) {
  TTransferMan& out = Transfer();
  out.WriteInteger(kItemCount, static_cast<std::int32_t>(skipped.size()));
  for (const TSkipped& s : skipped) {
    out.WriteInteger(kItemSkippedBase, static_cast<std::int32_t>(s.base));
    out.WriteWideString(kItemSkippedWhy, SystemToWide(s.summary));
  }
}

namespace {

TTransAnswer ReadTranslation(const std::function<WideString()>& read) {
  TTransAnswer answer;
  try {
    answer.text = read();
  } catch (const ELocal& e) {
    answer.code = e.HelpContext();
    answer.text = ErrorTextToWide(e.what());
  }
  return answer;
}

void WriteTransAnswer(TTransferMan& out, const TTransAnswer& answer) {
  out.WriteInteger(kItemResult, answer.code);
  out.WriteWideString(kItemTrans, answer.text);
}

}  // namespace

bool TCursor::CarryFor(const TMessage& message, std::int32_t flags) {
  return (flags & kCarryNotifications) != 0 && FromPeer(message);
}

void TCursor::CrLookup(TMessage& message) {
  CheckLive();
  TTransferMan& in = Transfer();
  const WideString text = in.ReadWideString(kItemWord);
  const std::int32_t flags = in.ReadInteger(kItemWideFlag);
  const bool wide = (flags & 0xFF) != 0;
  TCarry carry(*this, CarryFor(message, flags));
  const bool result = StepLocate(text, wide);
  const std::vector<TSkipped> skipped = Skipped();
  const std::vector<TCustomBase*> bases = HoldingBases(CurrentBases());
  std::vector<TTransAnswer> trans;
  trans.reserve(bases.size());
  std::size_t size = 64 + 2 * Word().size();
  for (const TSkipped& s : skipped) size += 32 + 2 * s.summary.size();
  for (TCustomBase* base : bases) {
    trans.push_back(ReadTranslation([&] { return StepTranslation(base); }));
    size += 3 * ItemSize(4) + ItemSize(2 * trans.back().text.size());
  }
  SettleCarried();
  TTransferMan& out = Transfer();
  Reserve(out, size);
  out.ResetWrite();
  out.WriteInteger(kItemResult, result ? 1 : 0);
  WriteSkipped(skipped);
  out.WriteInteger(kItemPosition, Position());
  out.WriteWideString(kItemWord, Word());
  out.WriteInteger(kItemIsLast, IsLast() ? 1 : 0);
  out.WriteInteger(kItemCount, static_cast<std::int32_t>(bases.size()));
  for (std::size_t i = 0; i < bases.size(); ++i) {
    out.WriteInteger(kItemHandle, static_cast<std::int32_t>(bases[i]->Handle()));
    WriteTransAnswer(out, trans[i]);
  }
  out.WriteInteger(kItemCarried, carry.Kept());
  carry.End();
}

void TCursor::CrPage(TMessage& message) {
  CheckLive();
  TTransferMan& in = Transfer();
  const std::int32_t limit = in.ReadInteger(kItemCount);
  const std::int32_t start = in.ReadInteger(kItemPageStart);
  const std::int32_t flags = in.ReadInteger(kItemWithTrans);
  const bool with_trans = (flags & 0xFF) != 0;
  if (limit < 0 || limit > kMaxPageWords)
    throw ELocal("Bad page size " + std::to_string(limit), kErrBadPageSize);
  if (start < kPageAfterCurrent || start > kPageFromLocate)
    throw ELocal("Bad page start " + std::to_string(start), kErrBadPageStart);
  WideString text;
  bool wide = true;
  if (start == kPageFromLocate) {
    text = in.ReadWideString(kItemWord);
    wide = (in.ReadInteger(kItemWideFlag) & 0xFF) != 0;
  }

  const auto count = static_cast<std::size_t>(limit);
  std::vector<TPageWord> words;
  words.reserve(std::min<std::size_t>(count, 256));
  std::vector<TSkipped> skipped;
  auto note_skipped = [&] {
    for (const TSkipped& s : Skipped()) {
      bool known = false;
      for (const TSkipped& k : skipped) known = known || k.base == s.base;
      if (!known) skipped.push_back(s);
    }
  };

  // The client hears of the cursor's state once, after the last step; a
  // step that fails ends the page with its error, after that state.
  TCarry carry(*this, CarryFor(message, flags));
  HoldNotifications();
  std::exception_ptr failure;
  try {
    bool on = false;
    if (start == kPageFromLocate) {
      on = StepLocate(text, wide) && !Word().empty();
      note_skipped();
    } else if (start == kPageFromCurrent) {
      on = !Word().empty();
    } else if (count > 0) {
      on = StepNext();
      note_skipped();
    }
    while (on && words.size() < count) {
      TPageWord page_word{Word(), Position(), HoldingBases(CurrentBases()), {}};
      if (with_trans) {
        for (TCustomBase* base : page_word.bases)
          page_word.trans.push_back(ReadTranslation([&] { return StepTranslation(base); }));
      }
      words.push_back(std::move(page_word));
      if (words.size() >= count) break;
      on = StepNext();
      note_skipped();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  ReleaseNotifications();
  if (failure) std::rethrow_exception(failure);

  std::size_t size =
      128 + 2 * Word().size() + 16 * static_cast<std::size_t>(CurrentBases().Count());
  for (const TSkipped& s : skipped) size += 32 + 2 * s.summary.size();
  for (const TPageWord& w : words) {
    size += 3 * ItemSize(4) + ItemSize(2 * w.word.size()) + ItemSize(4) * w.bases.size();
    for (const TTransAnswer& t : w.trans) size += ItemSize(4) + ItemSize(2 * t.text.size());
  }
  SettleCarried();
  TTransferMan& out = Transfer();
  Reserve(out, size);
  out.ResetWrite();
  out.WriteInteger(kItemResult, static_cast<std::int32_t>(words.size()));
  WriteSkipped(skipped);
  for (const TPageWord& w : words) {
    out.WriteWideString(kItemWord, w.word);
    out.WriteInteger(kItemPosition, w.position);
    out.WriteInteger(kItemCount, static_cast<std::int32_t>(w.bases.size()));
    for (std::size_t i = 0; i < w.bases.size(); ++i) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(w.bases[i]->Handle()));
      if (with_trans) WriteTransAnswer(out, w.trans[i]);
    }
  }
  out.WriteInteger(kItemPosition, Position());
  out.WriteWideString(kItemWord, Word());
  out.WriteInteger(kItemIsLast, IsLast() ? 1 : 0);
  out.WriteInteger(kItemCount, CurrentBases().Count());
  for (TNotifyObject* base : CurrentBases().List())
    out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base->Handle()));
  out.WriteInteger(kItemCarried, carry.Kept());
  carry.End();
}

}  // namespace vandrel
