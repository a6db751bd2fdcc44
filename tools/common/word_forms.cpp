// Hunspell's stemmer by dictionary language.
#include "tools/common/word_forms.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/unique_handle.h"
#include "tools/common/utf8.h"

#ifndef VANDREL_NO_HUNSPELL
#include <hunspell/hunspell.hxx>
#endif

namespace vandrel::tools {

#ifdef VANDREL_NO_HUNSPELL

std::vector<WideString> BaseForms(WideView, std::uint16_t) { return {}; }
bool WordFormsAvailable() { return false; }

#else

namespace {

// The Hunspell dictionary of a primary language, "" for none.
const char* HunspellName(std::uint16_t language) {
  switch (language & 0x3FF) {
    case 0x07:
      return "de_DE";
    case 0x09:
      return "en_US";
    case 0x19:
      return "ru_RU";
    default:
      return "";
  }
}

// Loaded once per language; null when the language has none.
Hunspell* SpellerFor(std::uint16_t language) {
  static std::map<std::string, std::unique_ptr<Hunspell> > loaded;
  const std::string name = HunspellName(language);
  if (name.empty()) return nullptr;
  auto it = loaded.find(name);
  if (it == loaded.end()) {
    const char* dir = std::getenv("VANDREL_HUNSPELL_DIR");
    const std::string base = std::string(dir != nullptr ? dir : "/usr/share/hunspell") + "/" + name;
    std::unique_ptr<Hunspell> speller;
    // Both files must be readable: Hunspell itself does not say.
    const bool readable = win::UniqueStdFile(std::fopen((base + ".aff").c_str(), "rb")) &&
                          win::UniqueStdFile(std::fopen((base + ".dic").c_str(), "rb"));
    if (readable) {
      speller = std::make_unique<Hunspell>((base + ".aff").c_str(), (base + ".dic").c_str());
      // Words travel as UTF-8; a dictionary in another encoding is left out.
      if (speller->get_dict_encoding() != "UTF-8") speller.reset();
    }
    it = loaded.emplace(name, std::move(speller)).first;
  }
  return it->second.get();
}

bool IsCapital(char16_t ch) { return (CharWeight(ch, kWeightCase) & 0xFF) == 0x02; }

}  // namespace

std::vector<WideString> BaseForms(WideView word, std::uint16_t language) {
  std::vector<WideString> forms;
  if (word.empty()) return forms;
  Hunspell* speller = SpellerFor(language);
  if (speller == nullptr) return forms;
  for (const std::string& stem : speller->stem(WideToUtf8(word))) {
    WideString form;
    if (!Utf8ToWide(stem, form) || form.empty()) continue;
    // The word itself in other letter case is no form of it; of forms
    // that differ only in case, the one cased like the word's first
    // letter stays ("Häuser": "Haus", not "haus").
    if (CompareWeighted(form, word, kWeightPrimary) == 0) continue;
    bool seen = false;
    for (WideString& f : forms) {
      if (CompareWeighted(f, form, kWeightPrimary) != 0) continue;
      seen = true;
      if (IsCapital(form[0]) == IsCapital(word[0]) && IsCapital(f[0]) != IsCapital(word[0]))
        f = form;
    }
    if (!seen) forms.push_back(form);
  }
  return forms;
}

bool WordFormsAvailable() { return true; }

#endif

}  // namespace vandrel::tools
