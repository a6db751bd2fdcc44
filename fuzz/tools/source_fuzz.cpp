// Dictionary sources as the tools read them, from hostile bytes: the
// tab-separated reader, the dictd reader (input split at the first NUL into
// index and data), the marked-up text check, entry preparation and the
// renderer. Errors must be reported as exceptions; text that passes the
// check must keep its marks through a stored body, and every field must
// survive escaping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "dictionary/body_codec.h"
#include "tools/common/dictd_source.h"
#include "tools/common/markup.h"
#include "tools/common/prepare.h"
#include "tools/common/render.h"
#include "tools/common/tsv_source.h"

using namespace vandrel;
using namespace vandrel::tools;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Exercise(Source& s) {
  for (const SourceEntry& e : s.entries) {
    RenderOptions o;
    o.ansi = true;
    RenderTranslation(e.trans, o);
    WideString back;
    std::string why;
    Check(UnescapeField(EscapeField(e.word, true), back, why) && back == e.word);
    Check(UnescapeField(EscapeField(e.trans, false), back, why) && back == e.trans);
  }
  PrepareStats stats;
  // Every translation here passed the check, so preparing raises nothing.
  std::vector<PreparedEntry> out = PrepareEntries(std::move(s.entries), 0x0409, stats);
  for (std::size_t i = 1; i < out.size(); ++i)
    Check(CompareWords(out[i - 1].word, out[i].word) < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    std::size_t nul = in.find('\0');
    std::string_view index = in.substr(0, nul);
    std::string_view dict = nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1);
    try {
      Source s = ParseDictdSource(index, dict, "fuzz.index");
      for (const SourceEntry& e : s.entries) Check(!CheckMarkup(e.trans).has_value());
      // Definitions kept as bytes, measured, converted and merged later,
      // give the same translations.
      Source lazy = ParseDictdSource(index, std::make_shared<const std::string>(dict), "f.index");
      Check(lazy.entries.size() == s.entries.size());
      WideString buffer;
      for (std::size_t i = 0; i < s.entries.size(); ++i) {
        Check(DictdMarkupLength(lazy.entries[i].definition) == s.entries[i].trans.size());
        Check(TranslationOf(lazy.entries[i], buffer) == WideView(s.entries[i].trans));
      }
      PrepareStats lazy_stats, text_stats;
      const auto lazy_out = PrepareEntries(std::move(lazy.entries), 0x0409, lazy_stats);
      const auto text_out = PrepareEntries(s.entries, 0x0409, text_stats);
      Check(lazy_out.size() == text_out.size() && lazy_stats.trans_chars == text_stats.trans_chars);
      for (std::size_t i = 0; i < lazy_out.size(); ++i)
        Check(TranslationOf(lazy_out[i], buffer) == WideView(text_out[i].trans));
      Exercise(s);
    } catch (const ESourceFormat&) {
    }
  } else {
    try {
      Source s = ParseTsvSource(in, "fuzz.tsv");
      for (SourceEntry& e : s.entries) {
        Check(!CheckMarkup(e.trans).has_value());
        // Every well-formed translation comes back from its body exactly.
        Check(DecodeBody(0x0409, 0x0419, EncodeBody(0x0409, 0x0419, e.trans)) == e.trans);
      }
      Exercise(s);
    } catch (const ESourceFormat&) {
    }
  }
  return 0;
}
