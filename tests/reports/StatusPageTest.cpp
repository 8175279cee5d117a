#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/KavroGyBl.h"
#include "reports/StatusPage.h"
#include "support/SendRecorder.h"

namespace {

const LocalTime kToday{2015, 2, 0, 1, 8, 30, 5, 0};

TEST(StatusPageFillTest, EveryPlaceholderGetsItsValueEachTime) {
  const AccountValues account{"20151231", "RTCM3CMR", "600分钟", "42分钟", "Li", "010-1234", "Survey Co"};
  const UserStatus status{"RTK Fixed ", "u1[BASE1] "};
  const std::string page =
      "<p>$NowTime$|$GetUserName$|$GetLimitime$|$GetMonutpoint$|$GetTimeRemainint$|$OnlineTime$|$GetLinkMan$|"
      "$GetTelphone$|$GetCompany$|$GetStatus$|$GetOnlineStatus$|$GetUserName$|$getusername$|$Other$|$</p>";
  EXPECT_EQ(
      FillStatusPage(page, kToday, "u1", account, status),
      "<p>2015-02-01|u1|20151231|RTCM3CMR|600分钟|42分钟|Li|010-1234|Survey Co|RTK Fixed |u1[BASE1] |u1|"
      "$getusername$|$Other$|$</p>");
}

TEST(StatusPageFillTest, ValuesAreEscapedAndNeverTakenForPlaceholders) {
  AccountValues account;
  account.company = "A&B \"Survey\" <Ltd>";
  const UserStatus status{"<script>alert('x')</script> ", ""};
  EXPECT_EQ(
      FillStatusPage("$GetUserName$/$GetCompany$/$GetStatus$/$GetTelphone$", kToday, "$GetStatus$", account,
                     status),
      "$GetStatus$/A&amp;B &quot;Survey&quot; &lt;Ltd&gt;/&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; /");
}

TEST(StatusPageStatusTest, WalksTheUsersConnectionsInSocketOrder) {
  ClientTable table;
  table[9].userName = "u1";
  table[9].statusText = "Float";
  table[9].links = {{4, "BASE2"}, {3, "BASE1"}};
  table[5].userName = "u1";
  table[5].statusText = "RTK Fixed";
  table[6].userName = "u10";
  table[6].statusText = "other";
  const UserStatus u1 = UserConnectionStatus(table, "u1");
  EXPECT_EQ(u1.status, "RTK Fixed Float ");
  EXPECT_EQ(u1.online, "u1[BASE1] u1[BASE2] ");

  const UserStatus nobody = UserConnectionStatus(table, "U1");
  EXPECT_EQ(nobody.status, "不在线");
  EXPECT_EQ(nobody.online, "");
}

class StatusPageSendTest : public ::testing::Test {
 protected:
  StatusPageSendTest() : clock(kToday), gybl(Settings{}, clock, monitor, steps), sends(gybl) {}
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "status-page-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory = pattern;
    gybl.programDirectory = directory + "/";
    gybl.clientTable[5].socket = 5;
  }
  void TearDown() override { std::filesystem::remove_all(directory); }
  void WriteTemplate(const std::string& text) {
    std::filesystem::create_directories(directory + "/ServerWeb");
    std::ofstream(directory + "/ServerWeb/Templet_Ex.htm", std::ios::binary) << text;
  }

  ManualClock clock;
  MonitorEvents monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  testsupport::SendRecorder sends;
  std::string directory;
};

TEST_F(StatusPageSendTest, TemplateLinesAreJoinedFilledAndSentFromOutBuffer) {
  WriteTemplate("<html>\r\n<b>$GetUserName$</b> $NowTime$\n$GetStatus$ $GetLimitime$</html>\nX");
  gybl.clientTable[9].userName = "rover<1>";
  gybl.clientTable[9].statusText = "Fixed";
  AccountValues account;
  account.validity = "20151231";
  SendStatusPage(gybl, 5, "rover<1>", account);
  ASSERT_EQ(sends.sent.size(), 1u);
  EXPECT_EQ(sends.sent[0].socket, 5u);
  EXPECT_FALSE(sends.sent[0].shared);
  EXPECT_EQ(sends.sent[0].bytes, "<html><b>rover&lt;1&gt;</b> 2015-02-01Fixed  20151231</html>X");
}

TEST_F(StatusPageSendTest, MissingTemplateWritesNothing) {
  SendStatusPage(gybl, 5, "u1", AccountValues{});
  for (const auto& sent : sends.sent) EXPECT_EQ(sent.bytes, "");
  EXPECT_EQ(ReadStatusTemplate(directory + "/ServerWeb/Templet_Ex.htm"), "");
}

TEST_F(StatusPageSendTest, PageLargerThanOutBufferIsSentWhole) {
  const std::string filler(kOutBufferSize, 'x');
  WriteTemplate("<p>$GetUserName$</p>\n" + filler + "\n<p>end</p>");
  SendStatusPage(gybl, 5, "u1", AccountValues{});
  ASSERT_EQ(sends.sent.size(), 1u);
  EXPECT_TRUE(sends.sent[0].shared);
  EXPECT_EQ(sends.sent[0].bytes, "<p>u1</p>" + filler + "<p>end</p>");
}

}  // namespace
