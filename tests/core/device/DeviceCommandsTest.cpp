// The receivers' "VORAN," lines on a table without sockets: sends are captured at the write event.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/CasterHandlers.h"
#include "core/RequestClassifier.h"
#include "core/device/DeviceCommands.h"
#include "core/ntrip/NtripServices.h"
#include "gnss/DecoderContext.h"
#include "gnss/Geodesy.h"
#include "support/QuietServices.h"
#include "support/SendRecorder.h"

namespace {

using namespace std::string_literals;

class Events : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  void OnTree(int code, const ClientEntry* entry, int) override { tree.push_back({code, entry->socket}); }
  void OnMap(int code, const ClientEntry* entry) override {
    if (entry != nullptr) map.push_back({code, entry->socket});
  }
  std::vector<LogRecord> lines;
  std::vector<std::pair<int, uint32_t>> tree, map;
};

class Accounts : public AccountServices {
 public:
  int LookupUserArea(const std::string& name, ClientEntry&) override {
    looked.push_back(name);
    return 1;
  }
  UserCheck CheckUser(const std::string& name, const std::string& password, ClientEntry& entry) override {
    checked.push_back(name + ":" + password);
    auto it = passwords.find(name);
    if (it == passwords.end() || it->second != password) return {false, 0, 1};
    entry.accountUnit = "Unit";
    entry.accountContact = "Contact";
    return {true, rights, 0};
  }
  void LogEvent(const std::string& name, int code, const std::string&) override {
    events.push_back(name + "|" + std::to_string(code));
  }
  bool ServerDatabaseDown() override { return databaseDown; }
  std::map<std::string, std::string> passwords{{"rov1", "pw"}};
  int rights = 0;
  bool databaseDown = false;
  std::vector<std::string> looked, checked, events;
};

class DeviceCommandsTest : public ::testing::Test {
 protected:
  DeviceCommandsTest()
      : clock({2015, 2, 1, 2, 9, 5, 7, 0}),
        gybl(Settings{}, clock, events, steps),
        sockets(gybl),
        handlers(gybl, accounts, services, decoders),
        classifier(gybl.clientTable, handlers) {}

  ClientEntry& Entry(uint32_t socket) {
    if (!gybl.clientTable.count(socket)) {
      sockaddr_in peer{};
      peer.sin_family = AF_INET;
      inet_pton(AF_INET, "10.0.0.9", &peer.sin_addr);
      gybl.Accept(socket, peer);
    }
    return gybl.clientTable.at(socket);
  }
  int Line(uint32_t socket, const std::string& line) {
    Entry(socket);
    return HandleDeviceLine(gybl, accounts, line, socket);
  }
  // Everything sent to a socket since the last call.
  std::string Sent(uint32_t socket) {
    std::string all;
    for (const auto& s : sockets.sent)
      if (s.socket == socket) all += s.bytes;
    std::erase_if(sockets.sent, [&](const auto& s) { return s.socket == socket; });
    return all;
  }
  bool Logged(const std::string& text, int level) const {
    for (const LogRecord& r : events.lines)
      if (r.text == text && r.level == level) return true;
    return false;
  }

  ManualClock clock;
  Events events;
  ServiceSteps steps;
  CKavroGyBl gybl;
  testsupport::SendRecorder sockets;
  Accounts accounts;
  testsupport::QuietServices services;
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext decoders{events, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers;
  RequestClassifier classifier;
};

TEST(DeviceFieldsTest, SplitStopsAtAnEmptyFieldAndEmptiesLongOnes) {
  DeviceFields f = SplitDeviceLine("VORAN,BASE,STA1,agent,st,3\r\n");
  EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 7),
            (std::vector<std::string>{"VORAN", "BASE", "STA1", "agent", "st", "3", ""}));

  f = SplitDeviceLine("VORAN,BASE," + std::string(50, 'x') + "," + std::string(49, 'y') + ",z\r\n");
  EXPECT_EQ(f[2], "");  // too long, but the fields after it are still read
  EXPECT_EQ(f[3], std::string(49, 'y'));
  EXPECT_EQ(f[4], "z");

  f = SplitDeviceLine("VORAN,BASE,,ag,st,3\r\n");
  EXPECT_EQ(f[1], "BASE");
  EXPECT_EQ(f[3], "");  // two commas in a row end the fields
  EXPECT_EQ(SplitDeviceLine("VORAN,X,\r\n")[2], "");

  std::string many = "VORAN";
  for (int i = 1; i < 45; ++i) many += "," + std::to_string(i);
  f = SplitDeviceLine(many);
  EXPECT_EQ(f[39], "39");
}

TEST_F(DeviceCommandsTest, CodedReceiverSwitchIsForNtripRequestsOnly) {
  gybl.settings.flags.receiverCodeLogin = 1;
  uint32_t socket = 5;
  for (const char* agent : {"Agent X", "a.b.c.d.SN4711", "a.b.c.d.1234*AAAA"}) {
    EXPECT_EQ(Line(socket, "VORAN,BASE,STA" + std::to_string(socket) + "," + agent + ",st,3\r\n"), 1)
        << agent;
    EXPECT_EQ(Sent(socket), "VORAN,SET,OK\r\n");
    ++socket;
  }
}

TEST_F(DeviceCommandsTest, BaseLoginAndTheDuplicateRule) {
  EXPECT_EQ(Line(5, "VORAN,BASE,STA1,Agent X,Station 1,3\r\n"), 1);
  EXPECT_EQ(Sent(5), "VORAN,SET,OK\r\n");
  const ClientEntry& base = gybl.clientTable.at(5);
  EXPECT_EQ(base.userName, "STA1");
  EXPECT_EQ(base.clientType, "BASE");
  EXPECT_EQ(base.agent, "Agent X");
  EXPECT_EQ(base.statusText, "Station 1");
  EXPECT_EQ(base.deviceParam, 3);
  EXPECT_EQ(base.classifyState, kClassifyDevice);
  EXPECT_TRUE(Logged("[   5]客户端[STA1            (   1)][][] 10.0.0.9 ", kLogNormal));
  EXPECT_EQ(events.lines.back().name, "STA1");

  // The same name and parameter from another socket: refused, and a silent holder is pushed.
  gybl.clientTable.at(5).idleSeconds = 12;
  EXPECT_EQ(Line(6, "VORAN,BASE,STA1,Agent Y,x,3\r\n"), 0);
  EXPECT_EQ(Sent(6), "VORAN,REP_USER,OK\r\n");
  EXPECT_EQ(gybl.clientTable.at(6).userName, "REP_USER-STA1");
  EXPECT_EQ(gybl.clientTable.at(6).classifyState, kClassifyDevice);
  EXPECT_EQ(gybl.clientTable.at(5).idleSeconds, 162);
  EXPECT_EQ(Line(7, "VORAN,BASE,STA1,Agent Y,x,4\r\n"), 1);
  EXPECT_EQ(Sent(7), "VORAN,SET,OK\r\n");

  // A second login under the same name logs nothing new; a rover never sets the status text.
  const size_t lines = events.lines.size();
  EXPECT_EQ(Line(7, "VORAN,ROVE,STA1,A,other,4\r\n"), 1);
  EXPECT_EQ(events.lines.size(), lines);
  EXPECT_EQ(gybl.clientTable.at(7).statusText, "x");
  EXPECT_EQ(gybl.clientTable.at(7).clientType, "ROVE");

  // The parameter is a leading decimal number; an out-of-range one saturates.
  EXPECT_EQ(Line(8, "VORAN,BASE,STA8,A,s,12abc\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(8).deviceParam, 12);
  EXPECT_EQ(Line(8, "VORAN,BASE,STA8,A,s,99999999999\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(8).deviceParam, 2147483647);
}

TEST_F(DeviceCommandsTest, RefusedLoginNames) {
  gybl.mounts.push_back(std::make_unique<CMount>());
  gybl.mounts.back()->name = "UP1";
  EXPECT_EQ(Line(5, "VORAN,ROVE,[X,A,s,1\r\n"), 0);
  EXPECT_EQ(gybl.clientTable.at(5).userName, "Reserved [-[X");
  EXPECT_EQ(Line(6, "VORAN,GETGGA,UP1,A,s,1\r\n"), 0);
  EXPECT_EQ(gybl.clientTable.at(6).userName, "REP_USER-UP1");
  EXPECT_EQ(gybl.clientTable.at(6).clientType, "GETGGA");
  EXPECT_EQ(Sent(5) + Sent(6), "VORAN,REP_USER,OK\r\nVORAN,REP_USER,OK\r\n");
  EXPECT_EQ(Line(7, "VORAN,BASE,,A,s,1\r\n"), 0);
  EXPECT_EQ(Line(7, "VORAN,BASE," + std::string(50, 'n') + ",A,s,1\r\n"), 0);
  EXPECT_EQ(Sent(7), "");

  // multiUser lets rovers and monitors share a name, never bases.
  gybl.settings.flags.multiUser = 1;
  EXPECT_EQ(Line(8, "VORAN,ROVE,r,A,s,0\r\n"), 1);
  EXPECT_EQ(Line(9, "VORAN,ROVE,r,A,s,0\r\n"), 1);
  EXPECT_EQ(Line(10, "VORAN,BASE,b,A,s,0\r\n"), 1);
  EXPECT_EQ(Line(11, "VORAN,BASE,b,A,s,0\r\n"), 0);
}

TEST_F(DeviceCommandsTest, ListsLeaveOutTheRequesterAndMonitors) {
  Line(5, "VORAN,BASE,STA1,A,s,1\r\n");
  Line(6, "VORAN,ROVE,rov1,A,s,1\r\n");
  Line(7, "VORAN,GETGGA,mon1,A,s,1\r\n");
  Line(8, "VORAN,BASE,STA2,A,s,1\r\n");
  Entry(9);  // not logged in
  Line(8, "VORAN,FIXPOSITIONBLH,31.5,121.25,10\r\n");
  sockets.sent.clear();
  EXPECT_EQ(Line(5, "VORAN,GETALL\r\n"), 1);
  EXPECT_EQ(Sent(5),
            "VORAN,LIST,rov1        [  0.0000   0.0000](ROVE),STA2        [ 31.5000 121.2500](BASE),\r\n");
  Line(6, "VORAN,GETBASE\r\n");
  Line(6, "VORAN,GETLINK\r\n");
  const std::string bases = "VORAN,LIST,STA1        [  0.0000   0.0000],STA2        [ 31.5000 121.2500],\r\n";
  EXPECT_EQ(Sent(6), bases + bases);
  Line(9, "VORAN,GETBASE\r\n");  // before any login: answered, and the connection stays undecided
  EXPECT_EQ(Sent(9), bases);
  EXPECT_EQ(gybl.clientTable.at(9).classifyState, kClassifyUndecided);
}

TEST(DeviceListTest, ListStopsPastSixteenThousandCharacters) {
  ClientTable table;
  auto add = [&](uint32_t socket, std::string name) {
    table[socket].userName = std::move(name);
    table[socket].clientType = "BASE";
  };
  // Each entry of a 49-character name takes 69 characters after the 11 of "VORAN,LIST,".
  for (uint32_t s = 1; s <= 300; ++s) add(s, std::string(49, 'a'));
  std::string text = DeviceListText(table, 0, false);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_GT(text.size() - 2, 16000u);
  EXPECT_LE(text.size() - 2 - 69, 16000u);

  // An entry that carries the text to 16100 characters leaves only the line end.
  table.clear();
  for (uint32_t s = 1; s <= 231; ++s) add(s, std::string(49, 'a'));  // 15950 characters
  add(232, std::string(200, 'b'));
  EXPECT_EQ(DeviceListText(table, 0, false), "\r\n");
}

TEST_F(DeviceCommandsTest, LinkBaseChecksTheUserAndLinks) {
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,rov1:pw\r\n"), 0);  // no login
  Line(5, "VORAN,BASE,STA1,A,s,1\r\n");
  Line(6, "VORAN,ROVE,rov1,A,s,1\r\n");
  sockets.sent.clear();
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,rov1,rov1:pw\r\n"), 0);  // its own name
  EXPECT_EQ(Sent(6), "");

  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,rov1:bad:x\r\n"), 0);
  EXPECT_EQ(Sent(6),
            "HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"rov1\"\r\n"
            "Date: 2015/02/02 09:05:07\r\n\r\n");
  EXPECT_TRUE(Logged("[rov1]-[bad][][] 密码或用户验证错误或功能受限", kLogRed));
  EXPECT_TRUE(Logged("rov1 ->STA1[bad]", kLogRed));
  EXPECT_EQ(accounts.events, std::vector<std::string>{"rov1|1"});

  EXPECT_EQ(Line(6, "VORAN,LINKBASE,NONE,pw\r\n"), 1);  // a field without ":" is the password
  EXPECT_EQ(Sent(6), "VORAN,BASE,FAIL\r\n");
  EXPECT_TRUE(Logged("[   6]rov1        -->NONE        [pw][Unit][Contact]", kLogBlue));

  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,x:pw\r\n"), 1);
  EXPECT_EQ(Sent(6), "VORAN,BASE,OK\r\n");
  EXPECT_EQ(gybl.clientTable.at(5).links, (std::map<uint32_t, std::string>{{6, "rov1"}}));
  EXPECT_EQ(gybl.clientTable.at(6).links, (std::map<uint32_t, std::string>{{5, "STA1"}}));
  EXPECT_EQ(accounts.looked.back(), "rov1");

  // Relinked to another base, the rover leaves the first.
  Line(7, "VORAN,BASE,STA2,A,s,1\r\n");
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA2,x:pw\r\n"), 1);
  EXPECT_TRUE(gybl.clientTable.at(5).links.empty());
  EXPECT_EQ(gybl.clientTable.at(6).links, (std::map<uint32_t, std::string>{{7, "STA2"}}));
}

TEST_F(DeviceCommandsTest, LinkBaseUnderPasswordProtection) {
  Line(5, "VORAN,BASE,STA1,A,s,1\r\n");
  Line(6, "VORAN,ROVE,anyname,A,s,1\r\n");
  gybl.settings.flags.userInPassword = 1;
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,x:rov1pw\r\n"), 0);  // the prefix counts only under protection
  EXPECT_EQ(accounts.checked.back(), "anyname:rov1pw");

  gybl.settings.flags.passwordProtection = 1;
  Sent(6);
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,x:rov1pw\r\n"), 1);
  EXPECT_EQ(accounts.checked.back(), "rov1:pw");
  EXPECT_EQ(accounts.looked.back(), "rov1");
  EXPECT_EQ(Sent(6), "VORAN,BASE,OK\r\n");

  accounts.rights = 0x200;  // direct link refused
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,x:rov1pw\r\n"), 0);
  EXPECT_EQ(Sent(6).rfind("HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"anyname\"\r\n", 0),
            0u);
  EXPECT_TRUE(Logged("[anyname]-[pw] 密码或用户验证错误或功能受限", kLogRed));
  EXPECT_EQ(accounts.events.back(), "anyname|4");

  // The server database down under protection: admitted unchecked.
  gybl.settings.useSql = 1;
  accounts.databaseDown = true;
  const size_t checks = accounts.checked.size();
  EXPECT_EQ(Line(6, "VORAN,LINKBASE,STA1,x:wrong\r\n"), 1);
  EXPECT_EQ(accounts.checked.size(), checks);
}

TEST_F(DeviceCommandsTest, OtherCommands) {
  Line(5, "VORAN,BASE,STA1,A,s,1\r\n");
  Sent(5);
  EXPECT_EQ(Line(5, "VORAN,NOSUCH,1\r\n"), 1);
  EXPECT_EQ(Line(5, "VORAN\r\n"), 1);
  EXPECT_EQ(Line(5, "VORAN,base\r\n"), 1);  // commands are case-sensitive
  EXPECT_EQ(Sent(5), "VORAN,OK\r\nVORAN,OK\r\nVORAN,OK\r\n");

  EXPECT_EQ(Line(5, "VORAN,INTERFACEMODE,msm\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(5).dataFormat, 0);
  EXPECT_TRUE(events.tree.empty());
  EXPECT_EQ(Line(5, "VORAN,INTERFACEMODE,MSM\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(5).dataFormat, 6);
  EXPECT_EQ(gybl.clientTable.at(5).dataFormatName, "RTCM32-MSM");
  EXPECT_EQ(events.tree, (std::vector<std::pair<int, uint32_t>>{{6, 5}}));

  gybl.versionText = "2.00.150202";
  gybl.settings.name = "Net";
  gybl.upstreamServerName = "QVO1";
  EXPECT_EQ(Line(5, "VORAN,GETVERSION\r\n"), 1);
  EXPECT_EQ(Sent(5), "2.00.150202 Net Master QVO1\r\n");

  EXPECT_EQ(Line(5, "VORAN,ECHO\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(5).echoMode, 1);
  EXPECT_EQ(Line(5, "VORAN,CLOSE\r\n"), 0);
  EXPECT_EQ(Sent(5), "");
}

TEST_F(DeviceCommandsTest, FixPositionTakesOnlyANewLatitude) {
  Line(5, "VORAN,BASE,STA1,A,s,1\r\n");
  const std::string equator = "VORAN,FIXPOSITION," + std::to_string(kWgs84A) + ",0,0\r\n";
  ClientEntry& base = gybl.clientTable.at(5);
  base.position = {0.0, 7.0, 8.0};
  EXPECT_EQ(Line(5, equator), 1);
  EXPECT_EQ(base.position, (std::array<double, 3>{0.0, 7.0, 8.0}));  // latitude 0 already stored
  EXPECT_TRUE(events.map.empty());

  EXPECT_EQ(Line(5, "VORAN,FIXPOSITIONBLH,31.5,121.25,10.5\r\n"), 1);
  EXPECT_EQ(base.position, (std::array<double, 3>{31.5, 121.25, 10.5}));
  EXPECT_EQ(Line(5, equator), 1);
  EXPECT_EQ(base.position[0], 0.0);
  EXPECT_EQ(base.position[1], 0.0);
  EXPECT_NEAR(base.position[2], 0.0, 1e-6);
  EXPECT_EQ(events.map, (std::vector<std::pair<int, uint32_t>>{{6, 5}, {6, 5}}));
}

// Through the framer: after the login only device lines are commands; every other byte of a base,
// requests included, is its stream and reaches the linked rover unchanged.
TEST_F(DeviceCommandsTest, AfterTheLoginTheBaseBytesAreItsStream) {
  auto feed = [&](uint32_t socket, const std::string& bytes) {
    Entry(socket);
    return classifier.Receive(socket, static_cast<uint32_t>(bytes.size()),
                              reinterpret_cast<const uint8_t*>(bytes.data()));
  };
  ASSERT_EQ(feed(5, "VORAN,BASE,STA1,A,s,1\r\nVORAN,INTERFACEMODE,RTCM30\r\n"), 1);
  ASSERT_EQ(feed(6, "VORAN,ROVE,rov1,A,s,1\r\nVORAN,LINKBASE,STA1,rov1:pw\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(5).dataFormat, 3);
  EXPECT_EQ(Sent(6), "VORAN,SET,OK\r\nVORAN,BASE,OK\r\n");

  const std::string stream = "\xd3\x00\x02GET / HTTP/1.0\r\n\r\nSOURCE p /M\r\n\r\n\0V"s;
  ASSERT_EQ(feed(5, stream + "VORAN,GETBASE\r\nOR"), 1);
  EXPECT_EQ(Sent(6), stream + "OR");  // the base's bytes behind its line go on at once
  EXPECT_EQ(Sent(5), "VORAN,SET,OK\r\nVORAN,LIST,\r\n");
  EXPECT_EQ(gybl.clientTable.at(5).classifyState, kClassifyDevice);
  EXPECT_EQ(gybl.clientTable.at(5).userName, "STA1");
  ASSERT_EQ(feed(5, "XYZ"), 1);  // fewer bytes than the keyword do not wait either
  EXPECT_EQ(Sent(6), "XYZ");

  // ECHO: the rover's later bytes come back to it.
  ASSERT_EQ(feed(6, "VORAN,ECHO\r\n$GPGGA,1*00\r\n"), 1);
  EXPECT_EQ(Sent(6), "$GPGGA,1*00\r\n");
}

}  // namespace
