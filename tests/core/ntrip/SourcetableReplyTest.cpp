#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/ntrip/SourcetableReply.h"
#include "support/SendRecorder.h"

namespace {

class LogMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  std::vector<LogRecord> lines;
};

class SourcetableReplyTest : public ::testing::Test {
 protected:
  SourcetableReplyTest()
      : clock({2015, 2, 0, 1, 8, 30, 5, 0}), gybl(Settings{}, clock, monitor, steps), sends(gybl) {
    gybl.buildNumber = 150202;
    gybl.clientTable[5].socket = 5;  // the requesting client
  }
  void Base(uint32_t socket, const std::string& name, double lat, double lon) {
    ClientEntry& e = gybl.clientTable[socket];
    e.socket = socket;
    e.userName = name;
    e.clientType = "BASE";
    e.dataFormat = 3;
    e.position = {lat, lon, 0};
  }
  // The one answer sent to the requesting client.
  std::string Answer() {
    EXPECT_EQ(sends.sent.size(), 1u);
    if (sends.sent.empty()) return {};
    EXPECT_EQ(sends.sent[0].socket, 5u);
    return sends.sent[0].bytes;
  }
  static bool Lists(const std::string& answer, const std::string& name) {
    return answer.find("\r\nSTR;" + name + ";") != std::string::npos;
  }

  ManualClock clock;
  LogMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  testsupport::SendRecorder sends;
};

TEST_F(SourcetableReplyTest, ComposesFromTheSharedStateIntoOutBuffer) {
  gybl.clientTable[5].ntripVersion = 2.0;
  gybl.settings.mountLocal = "DEU";
  gybl.settings.flags.fixedBase = 1;
  gybl.upstreamServerName = "Upstream-Main";
  auto mount = std::make_unique<CMount>();
  mount->name = "UP1";
  mount->formatIndex = 0;
  mount->description = "1(1)";
  gybl.mounts.push_back(std::move(mount));
  Base(9, "NET1", 31, 121);
  gybl.clientTable[9].agent = "KavroNet 2";
  gybl.clientTable[9].deviceParam = 1;

  Sourcetable(gybl, 5, 0, 0, 0, 0);
  const std::string answer = Answer();
  EXPECT_FALSE(sends.sent[0].shared);
  EXPECT_TRUE(
      answer.starts_with("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/150202 \r\n"
                         "Date: 2015/02/01 08:30:05\r\n"));
  EXPECT_NE(answer.find("\r\nSTR;UP1;UP1;RTCM 2.3;1(1);2;GNSS;KavroGnss;DEU;0.00;0.00;1;1;QVOeam-Main;"),
            std::string::npos);
  EXPECT_NE(answer.find("\r\nSTR;[RTCM30];[RTCM30];RTCM 3.0;1004(1),1005(10);2;GNSS;KavroGnss;DEU;"),
            std::string::npos);
  EXPECT_TRUE(Lists(answer, "NET1"));
  EXPECT_TRUE(answer.ends_with("ENDSOURCETABLE\r\n\r\n\r\n"));

  gybl.linkSlots[0].connected = 1;  // device bases are then served through the link
  sends.sent.clear();
  Sourcetable(gybl, 5, 0, 0, 0, 0);
  EXPECT_FALSE(Lists(Answer(), "NET1"));
}

TEST_F(SourcetableReplyTest, SocketWithoutEntryGetsNothing) {
  Sourcetable(gybl, 77, 0, 0, 0, 0);
  FilteredSourcetable(gybl, "/?filter=STR;;;;;;;;;%3E30;", 77);
  EXPECT_TRUE(sends.sent.empty());
}

TEST_F(SourcetableReplyTest, FilterPathLimitsTheBaseRowsAndIsLogged) {
  Base(10, "S29", 29.9, 120);
  Base(11, "S30", 30, 120);
  Base(12, "S40", 40, 120);
  Base(13, "S41", 40.1, 120);
  FilteredSourcetable(gybl, "/?filter=STR;;;;;;;;;%3E30%3C40;\r\n", 5);
  const std::string answer = Answer();
  EXPECT_FALSE(Lists(answer, "S29"));
  EXPECT_TRUE(Lists(answer, "S30"));
  EXPECT_TRUE(Lists(answer, "S40"));
  EXPECT_FALSE(Lists(answer, "S41"));
  ASSERT_EQ(monitor.lines.size(), 1u);
  EXPECT_EQ(monitor.lines[0].text, "filter [%3E30%3C40] []");
  EXPECT_EQ(monitor.lines[0].level, 0);

  sends.sent.clear();
  FilteredSourcetable(gybl, "/?filter=STR;;;;;;;;;;%3E121", 5);  // longitude only: no log line
  EXPECT_EQ(monitor.lines.size(), 1u);
  EXPECT_FALSE(Lists(Answer(), "S30"));
}

TEST_F(SourcetableReplyTest, MatchAndOtherPathsGetTheWholeTable) {
  Base(10, "S29", 29.9, 120);
  for (const char* path : {"/?match=STR;;;;;;;;;%3E30%3C40", "/?STR;;;;;;;;;%3E30%3C40", "/?filter=STR"}) {
    sends.sent.clear();
    FilteredSourcetable(gybl, path, 5);
    EXPECT_TRUE(Lists(Answer(), "S29")) << path;
  }
  EXPECT_TRUE(monitor.lines.empty());
}

}  // namespace
