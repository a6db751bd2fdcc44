// Base forms through Hunspell's packaged English, German and Russian
// dictionaries; a language without a Hunspell dictionary has none.
#include "tools/common/word_forms.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vandrel::tools {
namespace {

constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kRussian = 0x0419;
constexpr std::uint16_t kFrench = 0x040C;

bool Has(const std::vector<WideString>& forms, WideView form) {
  return std::find(forms.begin(), forms.end(), form) != forms.end();
}

TEST(WordFormsTest, InflectedWordsGiveTheirBaseForms) {
  ASSERT_TRUE(WordFormsAvailable()) << "this build has no Hunspell";
  EXPECT_TRUE(Has(BaseForms(u"houses", kEnglish), u"house"));
  EXPECT_TRUE(Has(BaseForms(u"walked", kEnglish), u"walk"));
  // дома (houses) -> дом (house)
  EXPECT_TRUE(Has(BaseForms(u"\u0434\u043e\u043c\u0430", kRussian), u"\u0434\u043e\u043c"));
  // Häuser -> Haus, once, cased as a noun; Kinder -> Kind.
  EXPECT_EQ(BaseForms(u"H\u00e4user", kGerman), std::vector<WideString>{u"Haus"});
  EXPECT_TRUE(Has(BaseForms(u"Kinder", kGerman), u"Kind"));
}

TEST(WordFormsTest, BaseWordsUnknownWordsAndOtherLanguagesHaveNone) {
  EXPECT_TRUE(BaseForms(u"house", kEnglish).empty());
  EXPECT_TRUE(BaseForms(u"xqzzv", kEnglish).empty());
  EXPECT_TRUE(BaseForms(u"", kEnglish).empty());
  EXPECT_TRUE(BaseForms(u"maisons", kFrench).empty());
}

}  // namespace
}  // namespace vandrel::tools
