// TCursorClient::LookupWord and Page: one CR_LOOKUP or CR_PAGE request and
// its answer, every count checked against its bound before it is used; the
// notifications the answer carries are applied after it was read whole.
#include <algorithm>
#include <string>

#include "client/cursor_answers.h"
#include "client/cursor_client.h"
#include "platform/exceptions.h"
#include "protocol/model_ids.h"
#include "protocol/page_ids.h"
#include "service/transfer_man.h"

namespace vandrel::client {
namespace {

// No base set holds more bases than this; a larger count is a damaged or
// hostile answer.
constexpr std::int32_t kMaxBases = 65536;

template <class Reader>
std::int32_t ReadCount(Reader& in, std::int32_t bound, const char* what) {
  const std::int32_t count = in.ReadInteger(kItemCount);
  if (count < 0 || count > bound)
    throw Exception(std::string("cursor answer with ") + std::to_string(count) + " " + what);
  return count;
}

template <class Reader>
std::vector<TSkippedBase> ReadSkipped(Reader& in) {
  std::vector<TSkippedBase> skipped;
  const std::int32_t count = ReadCount(in, kMaxBases, "bases passed over");
  for (std::int32_t i = 0; i < count; ++i) {
    TSkippedBase s;
    s.Base = static_cast<win::HWND>(in.ReadInteger(kItemSkippedBase));
    s.Why = in.ReadWideString(kItemSkippedWhy);
    skipped.push_back(std::move(s));
  }
  return skipped;
}

template <class Reader>
TBaseTranslation ReadTranslation(Reader& in, win::HWND base) {
  TBaseTranslation t;
  t.Base = base;
  t.Code = in.ReadInteger(kItemResult);
  t.Text = in.ReadWideString(kItemTrans);
  return t;
}

template <class Reader>
TLookupAnswer ReadLookup(Reader& in, std::int32_t* carried) {
  TLookupAnswer answer;
  answer.Found = in.ReadInteger(kItemResult) != 0;
  answer.Skipped = ReadSkipped(in);
  answer.State.Position = in.ReadInteger(kItemPosition);
  answer.State.Word = in.ReadWideString(kItemWord);
  answer.State.IsLast = (in.ReadInteger(kItemIsLast) & 0xFF) != 0;
  const std::int32_t bases = ReadCount(in, kMaxBases, "bases");
  for (std::int32_t i = 0; i < bases; ++i) {
    const auto base = static_cast<win::HWND>(in.ReadInteger(kItemHandle));
    answer.State.Bases.push_back(base);
    answer.Translations.push_back(ReadTranslation(in, base));
  }
  *carried = in.ReadInteger(kItemCarried);
  return answer;
}

template <class Reader>
TPageAnswer ReadPage(Reader& in, std::int32_t count, bool with_trans, std::int32_t* carried) {
  TPageAnswer answer;
  const std::int32_t words = in.ReadInteger(kItemResult);
  if (words < 0 || words > std::max(count, 0) || words > kMaxPageWords)
    throw Exception("cursor answer with " + std::to_string(words) + " words");
  answer.Skipped = ReadSkipped(in);
  answer.Words.reserve(static_cast<std::size_t>(words));
  for (std::int32_t w = 0; w < words; ++w) {
    TPageWord word;
    word.Word = in.ReadWideString(kItemWord);
    word.Position = in.ReadInteger(kItemPosition);
    const std::int32_t bases = ReadCount(in, kMaxBases, "bases");
    for (std::int32_t i = 0; i < bases; ++i) {
      const auto base = static_cast<win::HWND>(in.ReadInteger(kItemHandle));
      word.Bases.push_back(base);
      if (with_trans) word.Translations.push_back(ReadTranslation(in, base));
    }
    answer.Words.push_back(std::move(word));
  }
  answer.State.Position = in.ReadInteger(kItemPosition);
  answer.State.Word = in.ReadWideString(kItemWord);
  answer.State.IsLast = (in.ReadInteger(kItemIsLast) & 0xFF) != 0;
  const std::int32_t bases = ReadCount(in, kMaxBases, "bases");
  for (std::int32_t i = 0; i < bases; ++i)
    answer.State.Bases.push_back(static_cast<win::HWND>(in.ReadInteger(kItemHandle)));
  *carried = in.ReadInteger(kItemCarried);
  return answer;
}

}  // namespace

TLookupAnswer ReadLookupAnswer(TTransferMan& in, std::int32_t* carried) {
  return ReadLookup(in, carried);
}
TLookupAnswer ReadLookupAnswer(TTransferReader& in, std::int32_t* carried) {
  return ReadLookup(in, carried);
}
TPageAnswer ReadPageAnswer(TTransferMan& in, std::int32_t count, bool with_trans,
                           std::int32_t* carried) {
  return ReadPage(in, count, with_trans, carried);
}
TPageAnswer ReadPageAnswer(TTransferReader& in, std::int32_t count, bool with_trans,
                           std::int32_t* carried) {
  return ReadPage(in, count, with_trans, carried);
}

void TCursorClient::TakeCarried(std::int32_t carried, const TCursorState& state) {
  if ((carried & kCarriedState) != 0) TakeState(state);
  if ((carried & kCarriedChange) != 0) HeardChange();
}

TLookupAnswer TCursorClient::LookupWord(std::u16string_view text, bool wide) {
  TTransferMan& out = BeginRequest();
  out.WriteWideString(kItemWord, text);
  out.WriteInteger(kItemWideFlag, (wide ? 1 : 0) | kCarryNotifications);
  Request(CR_LOOKUP);
  std::int32_t carried = 0;
  TLookupAnswer answer = ReadLookupAnswer(Answer(), &carried);
  TakeCarried(carried, answer.State);
  return answer;
}

TPageAnswer TCursorClient::Page(std::int32_t count, TPageStart start, bool with_trans,
                                std::u16string_view text, bool wide) {
  TTransferMan& out = BeginRequest();
  out.WriteInteger(kItemCount, count);
  out.WriteInteger(kItemPageStart, static_cast<std::int32_t>(start));
  out.WriteInteger(kItemWithTrans, (with_trans ? 1 : 0) | kCarryNotifications);
  if (start == TPageStart::FromLocate) {
    out.WriteWideString(kItemWord, text);
    out.WriteInteger(kItemWideFlag, wide ? 1 : 0);
  }
  Request(CR_PAGE);
  std::int32_t carried = 0;
  TPageAnswer answer = ReadPageAnswer(Answer(), count, with_trans, &carried);
  TakeCarried(carried, answer.State);
  return answer;
}

}  // namespace vandrel::client
