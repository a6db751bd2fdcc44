// MatchWords: one CR_MATCH request and its answer, every count checked.
#include "client/cursor_match_client.h"

#include "platform/exceptions.h"
#include "protocol/model_ids.h"

namespace vandrel::client {

std::vector<TMatchedWord> MatchWords(TCursorClient& cursor, std::u16string_view strategy,
                                     std::u16string_view text, std::int32_t limit) {
  TTransferMan& out = cursor.BeginRequest();
  out.WriteWideString(kItemStrategy, strategy);
  out.WriteWideString(kItemWord, text);
  out.WriteInteger(kItemLimit, limit);
  cursor.Request(CR_MATCH);
  TTransferMan& in = cursor.Answer();
  const std::int32_t count = in.ReadInteger(kItemCount);
  if (count < 0 || count > std::max(limit, 0))
    throw Exception("match answer with " + std::to_string(count) + " words");
  std::vector<TMatchedWord> words(static_cast<std::size_t>(count));
  for (TMatchedWord& word : words) {
    word.Word = in.ReadWideString(kItemWord);
    const std::int32_t bases = in.ReadInteger(kItemCount);
    if (bases < 0 || bases > 100000)
      throw Exception("match answer with " + std::to_string(bases) + " bases");
    for (std::int32_t i = 0; i < bases; ++i)
      word.Bases.push_back(static_cast<win::HWND>(in.ReadInteger(kItemHandle)));
  }
  return words;
}

}  // namespace vandrel::client
