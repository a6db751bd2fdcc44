// The process log sums up a run of equal lines in one line.
#include "platform/log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/window.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Log, RepeatsAreSummedUpWithGroupedDigits) {
  test::ScratchDir dir;
  const std::string path = dir.path() + "/log";
  SetLogFile(path);
  for (int i = 0; i < 1235; ++i) WriteLogLine("flood");
  WriteLogLine("other");
  for (int i = 0; i < 2; ++i) WriteLogLine("pair");
  WriteLogLine("end");
  SetLogFile("");
  EXPECT_EQ(ReadAll(path),
            "flood\n... \"flood\" repeated 1,234 times\nother\npair\n"
            "... \"pair\" repeated 1 time\nend\n");
}

}  // namespace
}  // namespace vandrel::win
