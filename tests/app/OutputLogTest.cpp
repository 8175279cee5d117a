#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/OutputLog.h"
#include "core/Messages.h"

namespace fs = std::filesystem;

namespace {

class OutputLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavro-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string File(const char* name) const {
    std::stringstream out;
    out << std::ifstream(dir / name, std::ios::binary).rdbuf();
    return out.str();
  }

  fs::path dir;
  ManualClock clock{LocalTime{2015, 2, 0, 2, 9, 5, 7}};  // 2015/02/02 09:05:07
};

TEST_F(OutputLogTest, LinesGoToTheFileOfTheirDateWithoutTheName) {
  OutputLog log(clock, dir.string(), nullptr);  // "/" is added
  log.Append({"", "Stop", kLogNormal});
  log.Append({"alice", "Stop", kLogRed});
  clock.Set(LocalTime{2015, 2, 0, 3, 23, 59, 58});
  log.Append({"", "next day", kLogNormal});

  EXPECT_EQ(File("KavroServer20150202.txt"), "2015/02/02  9: 5: 7  Stop\n2015/02/02  9: 5: 7  Stop\n");
  EXPECT_EQ(File("KavroServer20150203.txt"), "2015/02/03 23:59:58  next day\n");
  ASSERT_EQ(log.rows().size(), 3u);
  EXPECT_EQ(log.rows()[0].timeText, "2015/02/02  9: 5: 7 ");
  EXPECT_EQ(log.rows()[0].name, "");
  EXPECT_EQ(log.rows()[1].name, "alice");
  EXPECT_EQ(log.rows()[1].colour, kLogRed);
}

TEST_F(OutputLogTest, FileMovedAwayIsStartedAgainWithinASecond) {
  OutputLog log(clock, dir.string(), nullptr);
  log.Append({"", "one", kLogNormal});
  fs::rename(dir / "KavroServer20150202.txt", dir / "moved.txt");
  log.Append({"", "two", kLogNormal});  // same second: still the open file
  clock.Set(LocalTime{2015, 2, 0, 2, 9, 5, 8});
  log.Append({"", "three", kLogNormal});

  EXPECT_EQ(File("moved.txt"), "2015/02/02  9: 5: 7  one\n2015/02/02  9: 5: 7  two\n");
  EXPECT_EQ(File("KavroServer20150202.txt"), "2015/02/02  9: 5: 8  three\n");
}

TEST_F(OutputLogTest, ListIsClearedWhenMoreThanHundredRowsAreListed) {
  OutputLog log(clock, dir.string(), nullptr);
  std::vector<OutputLog::Change> changes;
  log.SetListener([&](const OutputLog::Change& c) { changes.push_back(c); });
  for (int i = 1; i <= 101; ++i) log.Append({"", std::to_string(i), kLogNormal});
  ASSERT_EQ(log.rows().size(), 101u);
  EXPECT_EQ(log.rows().back().info, "101");
  EXPECT_FALSE(changes.back().cleared);

  log.Append({"", "102", kLogNormal});
  ASSERT_EQ(log.rows().size(), 1u);
  EXPECT_EQ(log.rows()[0].info, "102");
  EXPECT_TRUE(changes.back().cleared);
  EXPECT_EQ(changes.back().added, &log.rows()[0]);
  const std::string file = File("KavroServer20150202.txt");
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 102);  // the file keeps every line
}

TEST_F(OutputLogTest, FileOnlyLineIsWrittenAndCopiedButNotListed) {
  std::FILE* copy = std::tmpfile();
  ASSERT_NE(copy, nullptr);
  OutputLog log(clock, dir.string(), copy);
  int notified = 0;
  log.SetListener([&](const OutputLog::Change&) { ++notified; });
  log.Append({"bob", "quiet", kLogFileOnly});
  log.Append({"bob", "loud", kLogBlue});

  const std::string expected = "2015/02/02  9: 5: 7  quiet\n2015/02/02  9: 5: 7  loud\n";
  EXPECT_EQ(File("KavroServer20150202.txt"), expected);
  ASSERT_EQ(log.rows().size(), 1u);
  EXPECT_EQ(log.rows()[0].info, "loud");
  EXPECT_EQ(notified, 1);
  std::rewind(copy);
  std::string copied(256, '\0');
  copied.resize(std::fread(copied.data(), 1, copied.size(), copy));
  std::fclose(copy);
  EXPECT_EQ(copied, expected);
}

TEST_F(OutputLogTest, MissingDirectoryStillLists) {
  OutputLog log(clock, (dir / "LOG").string(), nullptr);
  log.Append({"", "Stop", kLogNormal});
  log.Append({"", "Start", kLogNormal});
  // The failure once, in red, then every line.
  ASSERT_EQ(log.rows().size(), 3u);
  EXPECT_EQ(log.rows()[0].colour, kLogRed);
  EXPECT_EQ(log.rows()[1].info, "Stop");
  EXPECT_FALSE(fs::exists(dir / "LOG"));
}

// A daily file that cannot be written (its directory a regular file, or the file a full disk) is
// reported once per day on the console and in the list; every line is still copied and listed.
TEST_F(OutputLogTest, UnwritableFileIsReportedOncePerDay) {
  std::ofstream(dir / "plain") << "x";
  fs::create_directories(dir / "full");
  fs::create_symlink("/dev/full", dir / "full" / "KavroServer20150202.txt");
  const struct {
    const char* sub;
    bool nextDayFails;
  } cases[] = {{"plain", true}, {"full", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sub);
    const std::string logDir = (dir / c.sub).string() + "/";
    clock.Set(LocalTime{2015, 2, 0, 2, 9, 5, 7});
    std::FILE* copy = std::tmpfile();
    ASSERT_NE(copy, nullptr);
    OutputLog log(clock, logDir, copy);
    log.Append({"", "a", kLogNormal});
    log.Append({"", "b", kLogRed});
    clock.Set(LocalTime{2015, 2, 0, 3, 23, 59, 58});
    log.Append({"", "c", kLogNormal});

    std::string expected = "2015/02/02  9: 5: 7  Log write failed " + logDir + "KavroServer20150202.txt\n" +
                           "2015/02/02  9: 5: 7  a\n2015/02/02  9: 5: 7  b\n";
    if (c.nextDayFails)
      expected += "2015/02/03 23:59:58  Log write failed " + logDir + "KavroServer20150203.txt\n";
    expected += "2015/02/03 23:59:58  c\n";
    std::rewind(copy);
    std::string copied(1024, '\0');
    copied.resize(std::fread(copied.data(), 1, copied.size(), copy));
    std::fclose(copy);
    EXPECT_EQ(copied, expected);
    // The failure is listed in red before the line that met it.
    ASSERT_EQ(log.rows().size(), c.nextDayFails ? 5u : 4u);
    EXPECT_EQ(log.rows()[0].info, "Log write failed " + logDir + "KavroServer20150202.txt");
    EXPECT_EQ(log.rows()[0].colour, kLogRed);
    EXPECT_EQ(log.rows()[1].info, "a");
  }
}

// A client's text cannot forge a second file line or send escape sequences to a terminal; the row
// keeps it as sent.
TEST_F(OutputLogTest, ControlCharactersAreEscapedInTheFileOnly) {
  OutputLog log(clock, dir.string(), nullptr);
  const std::string sent = "u\r\n2015/02/02  0: 0: 0  forged\x1b[2J\tend";
  log.Append({"", sent, kLogNormal});
  EXPECT_EQ(File("KavroServer20150202.txt"),
            "2015/02/02  9: 5: 7  u\\x0D\\x0A2015/02/02  0: 0: 0  forged\\x1B[2J\tend\n");
  EXPECT_EQ(log.rows()[0].info, sent);
}

}  // namespace
