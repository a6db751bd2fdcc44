// The service's command line: "/stay" in any letter case, and the
// dictionary folder.
#include "service/service_options.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vandrel {
namespace {

TEST(ServiceOptions, StayIsRecognisedInAnyLetterCaseAndOnlyAsAWholeArgument) {
  for (const char* arg : {"/stay", "/STAY", "/sTaY"}) {
    EXPECT_TRUE(ParseServiceCommandLine({arg}).Stay) << arg;
  }
  for (const char* arg : {"/stayx", "stay", "-stay", "/sta", ""}) {
    EXPECT_FALSE(ParseServiceCommandLine({arg}).Stay) << arg;
  }
  EXPECT_FALSE(ParseServiceCommandLine({}).Stay);
}

TEST(ServiceOptions, TheFirstOtherArgumentNamesTheDictionaryFolder) {
  TServiceOptions o = ParseServiceCommandLine({"/STAY", "/srv/dics", "ignored"});
  EXPECT_TRUE(o.Stay);
  EXPECT_EQ(o.DictionaryFolder, "/srv/dics");
  o = ParseServiceCommandLine({"MyDic", "/stay"});
  EXPECT_TRUE(o.Stay);
  EXPECT_EQ(o.DictionaryFolder, "MyDic");
  EXPECT_EQ(ParseServiceCommandLine({"/stay"}).DictionaryFolder, "");
}

TEST(ServiceOptions, TheFolderDefaultsToDicBesideTheProgramAndRelativeOnesAreResolved) {
  SetDictionaryFolder("");
  const std::filesystem::path folder = DictionaryFolder();
  EXPECT_EQ(folder.filename(), "Dic");
  EXPECT_TRUE(folder.is_absolute());
  SetDictionaryFolder("relative/Dic");
  EXPECT_EQ(std::filesystem::path(DictionaryFolder()),
            std::filesystem::current_path() / "relative/Dic");
  SetDictionaryFolder("");
}

}  // namespace
}  // namespace vandrel
