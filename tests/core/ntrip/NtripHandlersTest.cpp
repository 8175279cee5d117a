// NTRIP sources and rovers, the relay of a base's chunks, and the one-second tick, on a table
// without sockets: sends are captured at the write event.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/CasterHandlers.h"
#include "core/Housekeeping.h"
#include "core/Relay.h"
#include "core/ntrip/Base64.h"
#include "core/ntrip/NtripServices.h"
#include "core/ntrip/ReceiverCode.h"
#include "core/ntrip/RoverRequest.h"
#include "support/ReceiverCodes.h"

namespace {

class CapturingSockets : public SocketLayer {
 public:
  explicit CapturingSockets(CKavroGyBl& gybl) : gybl_(gybl) {}
  void CloseSocket(uint32_t socket) override { closed.push_back(socket); }
  void OnSocketEvent(uint32_t socket, uint32_t event) override {
    if (event == kFdClose) {
      gybl_.Close(socket, CloseReason::kPeerClosed);
      return;
    }
    const ClientEntry& entry = gybl_.clientTable.at(socket);
    sent[socket].append(reinterpret_cast<const char*>(entry.sendData), entry.sendLength);
  }
  std::map<uint32_t, std::string> sent;
  std::vector<uint32_t> closed;

 private:
  CKavroGyBl& gybl_;
};

class LogLines : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  std::vector<LogRecord> lines;
};

class FakeAccounts : public AccountServices {
 public:
  int LookupUserArea(const std::string& name, ClientEntry& entry) override {
    looked.push_back(name);
    entry.areaName = "area-" + name;
    return 1;
  }
  UserCheck CheckUser(const std::string& name, const std::string& password, ClientEntry& entry) override {
    auto it = passwords.find(name);
    if (it == passwords.end()) return {false, 0, 1};
    if (it->second != password) return {false, 0, 6};
    entry.accountUnit = "Unit";
    entry.accountContact = "Contact";
    entry.serialCheck = serial.empty() ? 0 : 1;
    entry.accountSerial = serial;
    return {true, rights, 0};
  }
  void LogEvent(const std::string& name, int code, const std::string& text) override {
    events.push_back(name + "|" + std::to_string(code) + "|" + text);
  }
  std::map<std::string, std::string> passwords;
  std::string serial;
  int rights = 0;
  std::vector<std::string> looked;
  std::vector<std::string> events;
};

class FakeServices : public NtripServices {
 public:
  void Sourcetable(uint32_t socket, double, double, double, double) override { tables.push_back(socket); }
  void FilteredSourcetable(const std::string& path, uint32_t) override { filtered.push_back(path); }
  void StatusPage(const std::string& user, const std::string& password, uint32_t) override {
    pages.push_back(user + "/" + password);
  }
  void ConnectUpstream(uint32_t socket, std::function<void(bool)> done) override {
    connecting.push_back(socket);
    pending = std::move(done);
  }
  void SendUpstream(uint32_t, const std::string& text) override { upstream.push_back(text); }
  std::vector<uint32_t> tables;
  std::vector<std::string> filtered;
  std::vector<std::string> pages;
  std::vector<uint32_t> connecting;
  std::vector<std::string> upstream;
  std::function<void(bool)> pending;
};

class NtripHandlersTest : public ::testing::Test {
 protected:
  NtripHandlersTest()
      : clock({2015, 2, 1, 2, 9, 5, 7, 0}),
        gybl(Settings{}, clock, monitor, steps),
        sockets(gybl),
        handlers(gybl, accounts, services, decoders),
        housekeeping(gybl) {
    gybl.SetSocketLayer(&sockets);
    gybl.buildNumber = 150202;
    gybl.serviceRunning = 1;
  }

  ClientEntry& Connect(uint32_t socket) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    inet_pton(AF_INET, "10.0.0.9", &peer.sin_addr);
    gybl.Accept(socket, peer);
    return gybl.clientTable.at(socket);
  }
  int Source(uint32_t socket, std::string request) {
    if (!gybl.clientTable.count(socket)) Connect(socket);
    return handlers.HandleSourceRequest(request.data(), socket);
  }
  int Get(uint32_t socket, const std::string& path, const std::string& credentials,
          const std::string& extra = "User-Agent: NTRIP Rover/1.0\r\n") {
    if (!gybl.clientTable.count(socket)) Connect(socket);
    std::string request = "GET " + path + " HTTP/1.0\r\n" + extra;
    if (!credentials.empty()) request += "Authorization: Basic " + EncodeBase64(credentials) + "\r\n";
    request += "\r\n";
    return handlers.HandleGetRequest(request.data(), socket);
  }
  // A base on mountpoint name at socket, accepted without accounts.
  void Base(uint32_t socket, const std::string& name) {
    ASSERT_EQ(Source(socket, "SOURCE pw /" + name + "\r\nSource-Agent: NTRIP B\r\n\r\n"), 1);
  }
  bool Logged(const std::string& text, int level) const {
    for (const LogRecord& r : monitor.lines)
      if (r.text == text && r.level == level) return true;
    return false;
  }
  std::string Sent(uint32_t socket) { return sockets.sent[socket]; }
  // What the classifier does after a handler returned 0.
  void Refused(uint32_t socket) { gybl.Close(socket, CloseReason::kRefused); }

  ManualClock clock;
  LogLines monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  CapturingSockets sockets;
  FakeAccounts accounts;
  FakeServices services;
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext decoders{monitor, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers;
  Housekeeping housekeeping;
};

TEST_F(NtripHandlersTest, SourceWordsPasswordMountpointAndAgent) {
  EXPECT_EQ(Source(5, "SOURCE secret /RTK1\r\nSource-Agent: NTRIP X\r\nNtrip-Version: Ntrip/2.0\r\n\r\n"), 1);
  const ClientEntry& e = gybl.clientTable.at(5);
  EXPECT_EQ(e.userName, "RTK1");
  EXPECT_EQ(e.agent, " NTRIP X");
  EXPECT_EQ(e.clientType, "BASE");
  EXPECT_EQ(e.classifyState, kClassifySource);
  EXPECT_DOUBLE_EQ(e.ntripVersion, 2.0);
  EXPECT_EQ(Sent(5), "ICY 200 OK\r\n\r\n");  // short form whatever the version
  EXPECT_TRUE(Logged("[   5]NTRIP SERVER RTK1 [RTK1]-[secret]  NTRIP X  10.0.0.9  OK", kLogNormal));
  EXPECT_EQ(accounts.looked, std::vector<std::string>{"RTK1"});

  EXPECT_EQ(Source(6, "SOURCE /RTK2 \r\nSource-Agent: A\r\n\r\n"), 1);  // no password word
  EXPECT_EQ(gybl.clientTable.at(6).userName, "RTK2");
  EXPECT_EQ(Source(7, "SOURCE /RTK3\r\nSource-Agent: A\r\n\r\n"), 1);  // the next line is glued on
  EXPECT_EQ(gybl.clientTable.at(7).userName, "RTK3Source-Agent:");
  EXPECT_EQ(Source(8, "SOURCE pw /a/b\r\n\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(8).userName, "ab");

  EXPECT_EQ(Source(9, "SOURCE pw /[list]\r\n\r\n"), 0);
  EXPECT_EQ(gybl.clientTable.at(9).userName, "SET_MOUNT");
  EXPECT_EQ(services.tables, std::vector<uint32_t>{9});
}

TEST_F(NtripHandlersTest, TakenMountpointsAreRefusedAsRepeats) {
  Base(5, "RTK1");
  gybl.clientTable.at(5).idleSeconds = 12;
  EXPECT_EQ(Source(6, "SOURCE pw2 /RTK1\r\nSource-Agent: S\r\n\r\n"), 0);
  EXPECT_EQ(gybl.clientTable.at(5).idleSeconds, 162);
  EXPECT_EQ(gybl.clientTable.at(6).userName, "REP_USER-RTK1");
  EXPECT_EQ(Sent(6), "ERROR - Already Connected\r\n\r\n");
  EXPECT_TRUE(Logged("NTRIP SERVER RTK1 [RTK1]-[pw2]  S  10.0.0.9 6() REPEAT 162", kLogRed));

  gybl.SetUserName(Connect(7), "ROVER9");  // a rover's user name blocks the mountpoint too
  EXPECT_EQ(Source(8, "SOURCE pw /ROVER9\r\n\r\n"), 0);
  EXPECT_EQ(gybl.clientTable.at(7).idleSeconds, 0);  // not pushed while fresh

  gybl.mounts.push_back(std::make_unique<CMount>());
  gybl.mounts.back()->name = "UP1";
  EXPECT_EQ(Source(9, "SOURCE pw /UP1\r\n\r\n"), 0);
  EXPECT_TRUE(Logged("NTRIP SERVER UP1 [UP1]-[pw]   10.0.0.9 9() REPEAT 0", kLogRed));
}

TEST_F(NtripHandlersTest, SourcePasswordCountsOnlyUnderProtection) {
  accounts.passwords["RTK1"] = "right";
  EXPECT_EQ(Source(5, "SOURCE wrong /RTK1\r\n\r\n"), 1);
  EXPECT_EQ(Sent(5), "ICY 200 OK\r\n\r\n");

  gybl.settings.flags.passwordProtection = 1;
  EXPECT_EQ(Source(6, "SOURCE wrong /RTK2\r\n\r\n"), 0);
  EXPECT_EQ(Sent(6), "ERROR - Bad Password \r\n\r\n");
  EXPECT_TRUE(Logged("[RTK2]-[wrong] 密码或用户验证错误或功能受限", kLogRed));
  EXPECT_TRUE(Logged("[用户名密码错]", kLogRed));
  EXPECT_EQ(accounts.events, std::vector<std::string>{"RTK2|1|用户名密码错"});
}

TEST_F(NtripHandlersTest, BasicCredentialsAreCutAsTheCasterCutsThem) {
  auto parse = [](const std::string& text) {
    return ParseBasicCredentials("GET /M HTTP/1.0\r\nAuthorization: Basic " + EncodeBase64(text) +
                                 "\r\n\r\n");
  };
  BasicCredentials c = parse("us:er:pass");
  EXPECT_EQ(c.user, "us:er");
  EXPECT_EQ(c.password, "pass");
  c = parse("user:pa?ss");
  EXPECT_EQ(c.password, "pa");
  EXPECT_EQ(parse(":pass").user, "");
  EXPECT_EQ(parse("nocolon").user, "");
  EXPECT_EQ(parse(std::string(51, 'u') + ":p").user, "");
  EXPECT_EQ(parse(std::string(50, 'u') + ":p").user, std::string(50, 'u'));
}

TEST_F(NtripHandlersTest, ListsStatusPageAndMissingCredentials) {
  EXPECT_EQ(Get(5, "/", ""), 0);
  EXPECT_EQ(gybl.clientTable.at(5).userName, "GET_LIST()()");
  EXPECT_EQ(services.tables, std::vector<uint32_t>{5});
  EXPECT_EQ(Get(6, "/?filter=;;", "u:p"), 0);
  EXPECT_EQ(gybl.clientTable.at(6).userName, "GET_LIST_2.0(u)(p)");
  EXPECT_EQ(services.filtered, std::vector<std::string>{"/?filter=;;"});

  const size_t linesBefore = monitor.lines.size();
  EXPECT_EQ(Get(7, "/RTK1", std::string(51, 'u') + ":p"), 0);
  EXPECT_EQ(Sent(7),
            "HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"/RTK1\"\r\n"
            "Date: 2015/02/02 09:05:07\r\n\r\n");
  EXPECT_EQ(monitor.lines.size(), linesBefore);

  EXPECT_EQ(Get(8, "/ravu", "u:p"), 0);
  EXPECT_EQ(services.pages, std::vector<std::string>{"u/p"});
  EXPECT_EQ(gybl.clientTable.at(8).clientType, "NTRIP");
}

TEST_F(NtripHandlersTest, RoverServedByNameByFormatOrRefused) {
  accounts.passwords = {{"alice", "pw"}, {"bob", "pw"}, {"carol", "pw"}};
  Base(5, "RTK1");
  EXPECT_EQ(Get(6, "/RTK1", "alice:pw"), 1);
  EXPECT_EQ(Sent(6), "ICY 200 OK\r\nServer: KavroGnss-Tavix/150202 \r\nDate: 2015/02/02 09:05:07\r\n\r\n");
  EXPECT_EQ(gybl.clientTable.at(5).links, (std::map<uint32_t, std::string>{{6, "alice"}}));
  EXPECT_EQ(gybl.clientTable.at(6).links, (std::map<uint32_t, std::string>{{5, "RTK1"}}));
  EXPECT_TRUE(Logged("[   6]/RTK1 [alice]-[pw][Unit][Contact] NTRIP Rover/1.0  10.0.0.9  OK", kLogNormal));

  // A format-typed mountpoint is served without a base; version 2.0 gets the HTTP form.
  EXPECT_EQ(Get(7, "/[RTCM32-MSM]", "bob:pw", "Ntrip-Version: Ntrip/2.0\r\n"), 1);
  EXPECT_EQ(gybl.clientTable.at(7).dataFormat, 6);
  EXPECT_EQ(gybl.clientTable.at(7).dataFormatName, "RTCM32-MSM");
  EXPECT_EQ(
      Sent(7).rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/150202 \r\n", 0),
      0u);

  // No such mountpoint: the sourcetable and the failure line with its reason.
  EXPECT_EQ(Get(8, "/NOPE", "carol:pw"), 0);
  EXPECT_EQ(gybl.clientTable.at(8).userName, "GET_USER(carol)(pw)");
  EXPECT_EQ(services.tables, std::vector<uint32_t>{8});
  EXPECT_EQ(accounts.events.back(), "carol|8|域名不存在");

  // The same user again while the first is silent for 20 s.
  gybl.clientTable.at(6).idleSeconds = 20;
  EXPECT_EQ(Get(9, "/RTK1", "alice:pw"), 0);
  EXPECT_EQ(gybl.clientTable.at(6).idleSeconds, 170);
  EXPECT_EQ(accounts.events.back(), "alice|9|用户重复");
  EXPECT_TRUE(Logged("[   9]/RTK1 [alice]-[pw][][]  NTRIP Rover/1.0 10.0.0.9  用户重复 ", kLogRed));
}

TEST_F(NtripHandlersTest, AccountRefusals) {
  accounts.passwords = {{"alice", "pw"}};
  Base(5, "RTK1");
  EXPECT_EQ(Get(6, "/RTK1", "alice:bad"), 0);
  EXPECT_EQ(Sent(6).rfind("HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"/RTK1\"\r\n", 0),
            0u);
  EXPECT_TRUE(Logged("[alice]-[bad]  NTRIP Rover/1.0 密码或用户验证错误或功能受限", kLogRed));
  EXPECT_TRUE(Logged("[密码错误]", kLogRed));
  Refused(6);

  accounts.serial = "SN77";
  EXPECT_EQ(Get(7, "/RTK1", "alice:pw"), 0);
  Refused(7);
  EXPECT_TRUE(Logged("ERROR [SN77]  NTRIP Rover/1.0", kLogRed));
  EXPECT_EQ(accounts.events.back(), "alice|5|用户机号绑定错误");
  EXPECT_EQ(Get(8, "/RTK1", "alice:pw", "User-Agent: NTRIP SN77\r\n"), 1);
  Refused(8);

  accounts.serial.clear();
  accounts.rights = 0x20;                         // RTCM 3 denied
  EXPECT_EQ(Get(9, "/[RTCM30]", "alice:pw"), 1);  // rights count only under protection
  Refused(9);
  gybl.settings.flags.passwordProtection = 1;
  gybl.settings.flags.multiUser = 1;
  EXPECT_EQ(Get(10, "/[RTCM30]", "alice:pw"), 0);
  EXPECT_EQ(accounts.events.back(), "alice|4|功能受限");
  EXPECT_EQ(Get(11, "/[RTCA]", "alice:pw"), 1);
}

// Agent texts with each kind of receiver code, and whether the coded-receiver switch serves them.
struct AgentCase {
  std::string agent;
  uint8_t kind;
  bool servedUnderSwitch;
};

std::vector<AgentCase> AgentCases() {
  using testsupport::Encode;
  return {{"NTRIP Rover/1.0", kReceiverCodeNone, false},
          {"NTRIP a.b.c.d.SN4711", kReceiverCodePlain, false},
          {"NTRIP a.b.c.d.1234-" + Encode("SN:0042", 37), kReceiverCodeCoded, true},
          {"NTRIP a.b.c.d.1234*" + Encode(std::string("K\xAB\x12\x34", 4), 37), kReceiverCodeSigned, true},
          {"NTRIP a.b.c.d.1234*" + Encode(std::string("K\xAB\x12\x35", 4), 37), kReceiverCodeBadSignature,
           false}};
}

TEST_F(NtripHandlersTest, CodedReceiverSwitchServesOnlyCodedReceivers) {
  accounts.passwords = {{"alice", "pw"}};
  gybl.settings.flags.multiUser = 1;
  Base(5, "RTK1");
  uint32_t socket = 10;
  for (int on : {0, 1}) {
    gybl.settings.flags.receiverCodeLogin = on;
    for (const AgentCase& c : AgentCases()) {
      const bool served = on == 0 || c.servedUnderSwitch;
      EXPECT_EQ(Get(socket, "/RTK1", "alice:pw", "User-Agent: " + c.agent + "\r\n"), served ? 1 : 0)
          << "switch " << on << ", kind " << int{c.kind};
      EXPECT_EQ(gybl.clientTable.at(socket).receiverCodeKind, c.kind);
      if (!served) {
        EXPECT_EQ(Sent(socket), "");  // closed without a reply
      }
      ++socket;
    }
  }
}

TEST_F(NtripHandlersTest, ForwardedUsersWaitForTheUpstreamConnect) {
  gybl.settings.relay.users = {"x:y", "fwd:pw"};
  gybl.settings.relay.users2 = {"a:b", "up:secret"};
  EXPECT_EQ(Get(6, "/UPMOUNT", "fwd:pw"), 1);
  ASSERT_EQ(services.connecting, std::vector<uint32_t>{6});
  EXPECT_EQ(Sent(6), "");  // no answer before the connect ends
  services.pending(true);
  ASSERT_EQ(services.upstream.size(), 1u);
  EXPECT_EQ(services.upstream[0],
            "GET /UPMOUNT HTTP/1.1\r\nUser-Agent: NTRIP NETSET_DEBUG\r\nAccept: */*\r\nConnection: close\r\n"
            "Authorization: Basic " +
                EncodeBase64("up:secret") + "\r\n\r\n");
  EXPECT_EQ(gybl.clientTable.at(6).dataFormat, 9);
  EXPECT_EQ(Sent(6).rfind("ICY 200 OK\r\n", 0), 0u);

  // A failed connect refuses a user whose check failed, and closes it.
  gybl.settings.flags.multiUser = 1;
  EXPECT_EQ(Get(7, "/UPMOUNT", "fwd:pw"), 1);
  services.pending(false);
  EXPECT_EQ(gybl.clientTable.count(7), 0u);
  EXPECT_EQ(services.tables, std::vector<uint32_t>{7});
}

TEST_F(NtripHandlersTest, BaseChunksReachEachRoverOrItsNotice) {
  Base(5, "RTK1");
  for (uint32_t rover : {6u, 7u, 8u}) {
    ClientEntry& r = Connect(rover);
    r.userName = "r" + std::to_string(rover);
    r.clientType = "NTRIP";
    ASSERT_EQ(LinkToBase(gybl.clientTable, "RTK1", rover), 1);
  }
  gybl.clientTable.at(7).roveFlagA = 1;
  gybl.clientTable.at(8).roveFlagB = 1;
  gybl.settings.flags.mustNeedGga = 1;
  sockets.sent.clear();
  std::string chunk("\xd3\x00\x13rtcm\0bytes", 14);
  handlers.DispatchData(reinterpret_cast<uint8_t*>(chunk.data()), static_cast<uint32_t>(chunk.size()), 5);
  handlers.DispatchData(reinterpret_cast<uint8_t*>(chunk.data()), 3, 5);
  EXPECT_EQ(Sent(6), "Waiting for GGA,\r\nWaiting for GGA,\r\n");
  EXPECT_EQ(Sent(7), "VORAN,OUTDIST,\r\nVORAN,OUTDIST,\r\n");
  EXPECT_EQ(Sent(8), chunk + chunk.substr(0, 3));
  EXPECT_EQ(Sent(5), "");

  gybl.clientTable.at(6).echoMode = 1;
  handlers.DispatchData(reinterpret_cast<uint8_t*>(chunk.data()), 4, 6);
  EXPECT_EQ(Sent(6), "Waiting for GGA,\r\nWaiting for GGA,\r\n" + chunk.substr(0, 4));

  // A rover relinked to another base leaves the first one.
  Base(9, "RTK2");
  ASSERT_EQ(LinkToBase(gybl.clientTable, "RTK2", 8), 1);
  EXPECT_EQ(gybl.clientTable.at(5).links.count(8), 0u);
  EXPECT_EQ(gybl.clientTable.at(8).links, (std::map<uint32_t, std::string>{{9, "RTK2"}}));
  EXPECT_EQ(LinkToBase(gybl.clientTable, "NONE", 8), 0);
  // A failed relink leaves the rover unlinked on both sides, so the tick can close it when idle.
  EXPECT_EQ(gybl.clientTable.at(9).links.count(8), 0u);
  EXPECT_TRUE(gybl.clientTable.at(8).links.empty());
}

TEST_F(NtripHandlersTest, NameIndexFollowsRenamesAndCloses) {
  ClientEntry& later = Connect(12);
  ClientEntry& first = Connect(10);
  gybl.SetUserName(later, "u");
  gybl.SetUserName(first, "u");
  EXPECT_EQ(gybl.FindNamed("u", 0)->socket, 10u);  // socket order, as a walk of the table finds it
  EXPECT_EQ(gybl.FindNamed("u", 10)->socket, 12u);
  EXPECT_EQ(gybl.FindNamed("u", 0, [](const ClientEntry& e) { return e.socket > 10; })->socket, 12u);
  gybl.SetUserName(first, "v");
  EXPECT_EQ(gybl.FindNamed("u", 12), nullptr);
  gybl.Close(12, CloseReason::kPeerClosed);
  EXPECT_EQ(gybl.FindNamed("u", 0), nullptr);
  EXPECT_EQ(gybl.names.size(), 1u);
}

TEST_F(NtripHandlersTest, BaseIndexFindsTheSameBaseAsTheWholeTable) {
  Base(9, "RTK3");
  ClientEntry& second = Connect(11);  // a second base of the name, as a device login may make
  second.userName = "RTK3";
  gybl.SetClientType(second, "BASE");
  ClientEntry& former = Connect(4);  // indexed once, no longer a base
  former.userName = "RTK3";
  gybl.SetClientType(former, "BASE");
  former.clientType = "NTRIP";
  gybl.bases.insert(99);  // gone
  ClientEntry& rover = Connect(8);
  rover.userName = "r8";
  ASSERT_EQ(LinkToBase(gybl.clientTable, gybl.bases, "RTK3", 8), 1);
  EXPECT_EQ(gybl.clientTable.at(8).links, (std::map<uint32_t, std::string>{{9, "RTK3"}}));
  ASSERT_EQ(LinkToBase(gybl.clientTable, "RTK3", 8), 1);
  EXPECT_EQ(gybl.clientTable.at(8).links, (std::map<uint32_t, std::string>{{9, "RTK3"}}));
  // A closed base leaves the index, and its rovers' links.
  gybl.Close(9, CloseReason::kPeerClosed);
  EXPECT_EQ(gybl.bases.count(9), 0u);
  EXPECT_TRUE(gybl.clientTable.at(8).links.empty());
  ASSERT_EQ(LinkToBase(gybl.clientTable, gybl.bases, "RTK3", 8), 1);
  EXPECT_EQ(gybl.clientTable.at(11).links.count(8), 1u);
}

TEST_F(NtripHandlersTest, UpstreamBlocksAreCutAndFencedRoversGetTheNotice) {
  ClientEntry& rover = Connect(6);
  rover.userName = "r";
  std::string block(9000, 'x');
  RoverUpstreamData(gybl, 6, reinterpret_cast<const uint8_t*>(block.data()), block.size());
  EXPECT_EQ(Sent(6), block.substr(0, 8192));

  gybl.mounts.push_back(std::make_unique<CMount>());
  gybl.mounts.push_back(std::make_unique<CMount>());
  gybl.mounts[1]->formatIndex = 1;
  gybl.clientTable.at(6).roveFlagA = 1;
  gybl.clientTable.at(6).dataFormat = 12;
  sockets.sent.clear();
  RoverUpstreamData(gybl, 6, reinterpret_cast<const uint8_t*>(block.data()), 10);
  EXPECT_EQ(Sent(6), std::string(reinterpret_cast<const char*>(kOutOfAreaFrame), 25));
  gybl.mounts[1]->formatIndex = 0;
  RoverUpstreamData(gybl, 6, reinterpret_cast<const uint8_t*>(block.data()), 10);
  EXPECT_EQ(Sent(6).size(), 25u);

  OutgoingClosed(gybl, 6);  // the rover's upstream ended: it closes as if its peer had
  EXPECT_EQ(gybl.clientTable.count(6), 0u);
  ASSERT_FALSE(monitor.lines.empty());
  EXPECT_NE(monitor.lines.back().text.find("{5}"), std::string::npos);
}

TEST_F(NtripHandlersTest, TickClosesOneStaleConnectionPerSecond) {
  Connect(5);
  Connect(6);
  for (int i = 0; i < 30; ++i) housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.size(), 2u);
  housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.count(5), 0u);
  EXPECT_EQ(gybl.clientTable.count(6), 1u);
  housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.count(6), 0u);
  EXPECT_NE(monitor.lines.back().text.find("{8}"), std::string::npos);

  Base(7, "QUIET");
  Base(8, "SLOW");
  Connect(9).closeReason = static_cast<int>(CloseReason::kSendFailed);
  housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.count(9), 0u);
  EXPECT_NE(monitor.lines.back().text.find("{4}"), std::string::npos);
  for (int i = 0; i < 299; ++i) housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.count(7), 1u);  // 300 silent seconds are still allowed
  gybl.clientTable.at(8).idleSeconds = 0;    // a byte just before its time-out
  housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.count(7), 0u);
  EXPECT_EQ(gybl.clientTable.count(8), 1u);
  EXPECT_NE(monitor.lines.back().text.find("{10}"), std::string::npos);
}

TEST_F(NtripHandlersTest, TestBaseFeedsItsRoversAndPeakIsKept) {
  gybl.settings.flags.testBroadcast = 1;
  gybl.InsertTestBase();
  ClientEntry& rover = Connect(6);
  rover.userName = "r";
  rover.clientType = "NTRIP";
  ASSERT_EQ(LinkToBase(gybl.clientTable, kTestBaseName, 6), 1);
  housekeeping.OnTick();
  housekeeping.OnTick();
  EXPECT_EQ(Sent(6), TestLine(1) + TestLine(2));
  EXPECT_EQ(TestLine(7).substr(0, 15), "07,测试成功");
  EXPECT_EQ(TestLine(7).size(), 3 + 12 + 5 * 62 + 12u);
  EXPECT_EQ(gybl.settings.total, 2);
  // The test base and its rovers never time out.
  for (int i = 0; i < 400; ++i) housekeeping.OnTick();
  EXPECT_EQ(gybl.clientTable.size(), 2u);
}

}  // namespace
