// CR_MATCH on a cursor: each base's table walked by the match strategy,
// the answers merged in dictionary order.
#include "model/cursor_match.h"

#include <exception>

#include "dictionary/dic_word_source.h"
#include "model/base.h"
#include "model/base_set.h"
#include "model/dictionary_folder.h"
#include "model/model_ids.h"
#include "model/vocab_cursor.h"
#include "model/vocab_table.h"
#include "platform/exceptions.h"
#include "service/errors.h"

namespace vandrel {

std::vector<TMergedMatch> MergeMatches(const std::vector<std::vector<WideString>>& lists,
                                       std::size_t limit, const WideString* nprefix_text) {
  std::vector<std::size_t> at(lists.size(), 0);
  if (nprefix_text != nullptr) {
    // The best first word: one that begins with the text (the smallest),
    // else the largest before it, else the smallest after it.
    const WideString& text = *nprefix_text;
    const WideString* best = nullptr;
    int best_mode = 2;
    for (const auto& list : lists) {
      if (list.empty()) continue;
      const WideString& w = list.front();
      const int c = CompareWeighted(WideView(w).substr(0, text.size()), text, kWeightPrimary);
      const int mode = c == 0 ? 0 : (c < 0 ? 1 : 2);
      const bool better = best == nullptr || mode < best_mode ||
                          (mode == best_mode &&
                           (mode == 1 ? CompareWords(w, *best) > 0 : CompareWords(w, *best) < 0));
      if (better) {
        best = &w;
        best_mode = mode;
      }
    }
    if (best != nullptr) {
      const WideString start = *best;
      for (std::size_t i = 0; i < lists.size(); ++i)
        while (at[i] < lists[i].size() && CompareWords(lists[i][at[i]], start) < 0) ++at[i];
    }
  }
  std::vector<TMergedMatch> merged;
  while (merged.size() < limit) {
    int smallest = -1;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      if (at[i] >= lists[i].size()) continue;
      if (smallest < 0 ||
          CompareWords(
              lists[i][at[i]],
              lists[static_cast<std::size_t>(smallest)][at[static_cast<std::size_t>(smallest)]]) <
              0)
        smallest = static_cast<int>(i);
    }
    if (smallest < 0) break;
    TMergedMatch match;
    match.Word = lists[static_cast<std::size_t>(smallest)][at[static_cast<std::size_t>(smallest)]];
    for (std::size_t i = 0; i < lists.size(); ++i) {
      if (at[i] < lists[i].size() && CompareWords(lists[i][at[i]], match.Word) == 0) {
        match.Sources.push_back(static_cast<int>(i));
        ++at[i];
      }
    }
    merged.push_back(std::move(match));
  }
  return merged;
}

void TVocabCursor::CrMatch(TMessage&) {
  CheckLive();
  TTransferMan& in = Transfer();
  const WideString name = in.ReadWideString(kItemStrategy);
  const WideString text = in.ReadWideString(kItemWord);
  const std::int32_t limit = in.ReadInteger(kItemLimit);
  TMatchStrategy strategy;
  const std::string name8 = WideToSystem(name);
  if (!ParseMatchStrategy(name8, strategy))
    throw ELocal("Unknown match strategy \"" + name8 + "\"", kErrUnknownStrategy);
  if (limit < 0 || limit > kMaxMatchLimit)
    throw ELocal("Bad match limit " + std::to_string(limit), kErrBadLimit);
  std::unique_ptr<TWordMatcher> matcher;
  try {
    matcher = std::make_unique<TWordMatcher>(strategy, text);
  } catch (const EMatchPattern& e) {
    throw ELocal(std::string("Bad match pattern: ") + e.what(), kErrBadPattern);
  }

  TNotifyList& bases = BaseSet()->BaseList();
  std::vector<std::vector<WideString>> lists(static_cast<std::size_t>(bases.Count()));
  std::vector<TNotifyObject*> holders(lists.size());
  for (int i = 0; i < bases.Count(); ++i) {
    TCustomBase* base = BaseSet()->Base(i);
    holders[static_cast<std::size_t>(i)] = base;
    TVocabTable* table = base->Table();
    if (table == nullptr || !table->IsOpen()) continue;
    // A walk of its own over the file: no cursor's position moves.
    try {
      TDicWordSource source(table->File());
      matcher->Collect(source, static_cast<std::size_t>(limit), lists[static_cast<std::size_t>(i)]);
    } catch (const EDicDamaged& e) {
      // A damaged dictionary is passed over, as the cursor's moves do, and
      // logged once.
      table->ReportDamage(e);
      lists[static_cast<std::size_t>(i)].clear();
    } catch (const EDicBodyDamaged& e) {
      table->ReportDamage(e);
      lists[static_cast<std::size_t>(i)].clear();
    }
  }
  const std::vector<TMergedMatch> merged =
      MergeMatches(lists, static_cast<std::size_t>(limit),
                   strategy == TMatchStrategy::NPrefix ? &text : nullptr);
  TTransferMan& out = Transfer();
  // The channel grows its buffer to the size each item needs, one new
  // shared-memory object per growth: one growth to the whole answer's size
  // first keeps a long answer linear.
  std::size_t size = 64;
  for (const TMergedMatch& match : merged)
    size += 32 + 2 * match.Word.size() + 16 * match.Sources.size();
  out.ResetWrite();
  out.WriteWideString(kItemWord, WideString(size / 2, u' '));
  out.ResetWrite();
  out.WriteInteger(kItemCount, static_cast<std::int32_t>(merged.size()));
  for (const TMergedMatch& match : merged) {
    out.WriteWideString(kItemWord, match.Word);
    out.WriteInteger(kItemCount, static_cast<std::int32_t>(match.Sources.size()));
    for (int source : match.Sources)
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(
                                        holders[static_cast<std::size_t>(source)]->Handle()));
  }
}

}  // namespace vandrel
