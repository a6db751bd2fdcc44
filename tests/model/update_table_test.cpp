// The update table's language: every listed language as itself, a language
// the platform knows but the list lacks as a listed one of the same code
// page (so that words convert without loss), anything else as English.
#include "model/update_table.h"

#include <gtest/gtest.h>

#include "dictionary/charmap.h"
#include "engine/languages.h"

namespace vandrel {
namespace {

TEST(UpdateLanguageTest, ListedLanguagesStayAndOthersShareTheirCodePage) {
  int listed = 0;
  for (const engine::LanguageName& entry : engine::Languages()) {
    if (entry.id == 0) continue;
    EXPECT_EQ(UpdateLanguageName(entry.id), entry.name);
    ++listed;
  }
  EXPECT_GE(listed, 90);
  // Known to the platform, not listed: a listed language of the same code
  // page, and the table can be created in it.
  for (const std::uint16_t unlisted :
       {0x042F /* Macedonian */, 0x043F /* Kazakh */, 0x0444 /* Tatar */}) {
    SCOPED_TRACE(unlisted);
    ASSERT_TRUE(engine::LanguageNameById(unlisted).empty());
    const std::string name = UpdateLanguageName(unlisted);
    const std::optional<std::uint16_t> id = engine::LanguageIdByName(name);
    ASSERT_TRUE(id.has_value()) << name;
    EXPECT_EQ(LocaleToCodePage(*id), LocaleToCodePage(unlisted)) << name;
    EXPECT_EQ(LocaleToCodePage(*id), 1251u);
  }
  // Neither listed nor known.
  EXPECT_EQ(UpdateLanguageName(0x7FF1), "English (USA)");
  EXPECT_EQ(UpdateLanguageName(0), "English (USA)");
}

}  // namespace
}  // namespace vandrel
