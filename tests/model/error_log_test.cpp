// The error log: dated lines, the 7-day window kept through the work file,
// lines that do not parse, and failures that never reach the caller.
#include "model/error_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

std::time_t fake_now = 0;
std::time_t FakeClock() { return fake_now; }

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorLogFolder(dir_.path());
    // A fixed noon keeps "days ago" clear of daylight-saving changes.
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 5;
    noon.tm_mday = 20;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    fake_now = std::mktime(&noon);
    SetErrorLogClock(&FakeClock);
  }
  void TearDown() override {
    SetErrorLogClock(nullptr);
    SetErrorLogFolder("");
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  static std::string DaysAgo(int days) {
    return FormatLogTime(fake_now - static_cast<std::time_t>(days) * 24 * 3600);
  }
  ScratchDir dir_{"vandrel-log"};
};

TEST_F(ErrorLogTest, KeepsTheLastSevenDaysAndAppendsTheNewLine) {
  Write(ErrorLogPath(), DaysAgo(10) + " - old\n" + "no separator here\n" + DaysAgo(3) +
                            " - recent\r\n" + "2024-02-30 10:00:00 - impossible date\n" +
                            "yesterday - not a date\n" + DaysAgo(8) + " - also old\n" + DaysAgo(1) +
                            " - a - b\n");
  LogError("CustomBaseSet.Destroy: CursorList.Count<>0");
  EXPECT_EQ(Read(ErrorLogPath()), DaysAgo(3) + " - recent\n" + DaysAgo(1) + " - a - b\n" +
                                      DaysAgo(0) +
                                      " - CustomBaseSet.Destroy: CursorList.Count<>0\n");
  EXPECT_FALSE(std::filesystem::exists(ErrorLogWorkPath()));
  EXPECT_EQ(DaysAgo(0), "2024-06-20 12:00:00");
}

TEST_F(ErrorLogTest, StartsANewLogAndKeepsEachEntryOnOneLine) {
  LogError("first");
  fake_now += 60;
  LogError("second\nline");
  EXPECT_EQ(Read(ErrorLogPath()),
            "2024-06-20 12:00:00 - first\n"
            "2024-06-20 12:01:00 - second line\n");
  // The log names the user's files and words: only the user may read it.
  const auto perms = std::filesystem::status(ErrorLogPath()).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ErrorLogTest, FailuresAreSwallowedAndLeaveNoWorkFile) {
  SetErrorLogFolder(dir_.path() + "/missing");
  LogError("nowhere to go");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/missing"));

  // A log that cannot be replaced (a folder of that name) stays as it is.
  SetErrorLogFolder(dir_.path());
  std::filesystem::create_directory(ErrorLogPath());
  LogError("cannot replace");
  EXPECT_TRUE(std::filesystem::is_directory(ErrorLogPath()));
  EXPECT_FALSE(std::filesystem::exists(ErrorLogWorkPath()));
}

TEST_F(ErrorLogTest, TimeTextRoundTripsAndRejectsMalformedText) {
  std::time_t moment = 0;
  ASSERT_TRUE(ParseLogTime(DaysAgo(2), moment));
  EXPECT_EQ(moment, fake_now - 2 * 24 * 3600);
  for (const char* bad : {"", "2024-06-20", "2024-06-20 12:00", "2024/06/20 12:00:00",
                          "2024-13-01 00:00:00", "2023-02-29 00:00:00", "2024-06-20 24:00:00",
                          "2024-06-20 12:00:0x", " 2024-06-20 12:00:00"})
    EXPECT_FALSE(ParseLogTime(bad, moment)) << bad;
  EXPECT_TRUE(ParseLogTime("2024-02-29 23:59:59", moment));
}

}  // namespace
}  // namespace vandrel::test
