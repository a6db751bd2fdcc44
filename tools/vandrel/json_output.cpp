// Translations and documents as JSON.
#include "tools/vandrel/json_output.h"

#include <cstdio>

#include "tools/common/languages.h"
#include "tools/common/markup.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"

namespace vandrel::cli {
namespace {

// Walks marked-up text as the renderer does: marks that the codec would
// refuse are kept as "mark" nodes, never dropped, and a missing closing
// mark ends its construct at the end of the text.
class MarkupTree {
 public:
  MarkupTree(WideView text, std::uint16_t language, std::uint16_t trans_language)
      : t_(text), language_(language), trans_language_(trans_language) {}

  Json Run() {
    Json nodes = Json::array();
    while (i_ < t_.size()) {
      const char16_t u = t_[i_];
      if (u >= tools::kMarkArg1 && u <= tools::kMarkArg3) {
        nodes.push_back(Argument());
      } else if (u == tools::kMarkBlock) {
        nodes.push_back(Block());
      } else if (u == tools::kMarkRaw) {
        nodes.push_back(Raw());
      } else if (!Inline(nodes)) {
        nodes.push_back(StrayMark());
      }
    }
    return nodes;
  }

 private:
  // Text, line breaks, character lexemes and spans: what may stand both at
  // the top level and in a block. False when the unit is none of these.
  bool Inline(Json& nodes) {
    const char16_t u = t_[i_];
    if (u == tools::kMarkChar) {
      ++i_;
      nodes.push_back(Json{{"type", "char"}, {"text", JsonString(TextRun())}});
      Closing(tools::kMarkChar);
    } else if (u >= tools::kMarkSpan5 && u <= tools::kMarkWordSpan) {
      nodes.push_back(Span());
    } else if (tools::IsTextUnit(u)) {
      Text(nodes);
    } else {
      return false;
    }
    return true;
  }

  // Text units up to the next mark, split at line breaks.
  void Text(Json& nodes) {
    while (i_ < t_.size() && tools::IsTextUnit(t_[i_])) {
      if (t_[i_] == tools::kLineBreak) {
        nodes.push_back(Json{{"type", "break"}});
        ++i_;
        continue;
      }
      const std::size_t start = i_;
      while (i_ < t_.size() && t_[i_] >= 0x20) ++i_;
      nodes.push_back(Json{{"type", "text"}, {"text", JsonString(t_.substr(start, i_ - start))}});
    }
  }

  WideView TextRun() {
    const std::size_t start = i_;
    while (i_ < t_.size() && tools::IsTextUnit(t_[i_])) ++i_;
    return t_.substr(start, i_ - start);
  }

  void Closing(char16_t mark) {
    if (i_ < t_.size() && t_[i_] == mark) ++i_;
  }

  Json Argument() {
    const char16_t mark = t_[i_++];
    Json node{{"type", "argument"}, {"mark", static_cast<int>(mark)}};
    node["char"] = i_ < t_.size() ? JsonString(t_.substr(i_++, 1)) : std::string();
    Closing(mark);
    return node;
  }

  Json Span() {
    const char16_t mark = t_[i_++];
    const bool word_language = mark == tools::kMarkWordSpan;
    const std::uint16_t lang = word_language ? language_ : trans_language_;
    Json node{{"type", "span"},
              {"kind", word_language ? "word" : "translation"},
              {"mark", static_cast<int>(mark)},
              {"language", tools::LanguageShortName(lang)},
              {"language_id", lang}};
    Json children = Json::array();
    Text(children);
    node["children"] = std::move(children);
    Closing(mark);
    return node;
  }

  Json Block() {
    ++i_;
    Json children = Json::array();
    while (i_ < t_.size() && t_[i_] != tools::kMarkBlock) {
      if (!Inline(children)) children.push_back(StrayMark());
    }
    Closing(tools::kMarkBlock);
    return Json{{"type", "block"}, {"children", std::move(children)}};
  }

  Json Raw() {
    ++i_;
    const std::size_t start = i_;
    while (i_ < t_.size() && t_[i_] != tools::kMarkRaw) ++i_;
    Json node{{"type", "raw"}, {"text", JsonString(t_.substr(start, i_ - start))}};
    Closing(tools::kMarkRaw);
    return node;
  }

  Json StrayMark() { return Json{{"type", "mark"}, {"mark", static_cast<int>(t_[i_++])}}; }

  WideView t_;
  std::size_t i_ = 0;
  std::uint16_t language_;
  std::uint16_t trans_language_;
};

}  // namespace

std::string JsonString(WideView text) { return tools::WideToUtf8(text); }

Json MarkupJson(WideView trans, std::uint16_t language, std::uint16_t trans_language) {
  return MarkupTree(trans, language, trans_language).Run();
}

Json TranslationJson(WideView trans, std::uint16_t language, std::uint16_t trans_language) {
  return Json{{"text", tools::RenderTranslation(trans)},
              {"markup", MarkupJson(trans, language, trans_language)}};
}

Json LanguageJson(std::uint16_t language) {
  return Json{{"id", language},
              {"code", tools::LanguageShortName(language)},
              {"label", tools::LanguageLabel(language)}};
}

void PrintJson(const Json& document) {
  // Texts from a damaged file may hold anything: invalid UTF-8 is replaced,
  // never a reason to fail.
  const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace vandrel::cli
