#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/KavroGyBl.h"

namespace {

struct Event {
  int message;
  int code;
  uint32_t socket;
  bool operator==(const Event&) const = default;
};

class RecordingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  void OnGrid(int code, ClientEntry& e) override { events.push_back({1527, code, e.socket}); }
  void OnTree(int code, const ClientEntry* e, int) override { events.push_back({1525, code, e ? e->socket : 0}); }
  void OnMap(int code, const ClientEntry* e) override { events.push_back({1529, code, e ? e->socket : 0}); }
  void OnStatistics(const Statistics& s) override { online.push_back(s.usersOnline); }
  std::vector<LogRecord> lines;
  std::vector<Event> events;
  std::vector<int> online;
};

class RecordingSteps : public ServiceSteps {
 public:
  void RecordConnection(const ClientEntry& entry) override { recorded.push_back(entry); }
  std::string LocateAddress(const sockaddr_in&) override { return location; }
  // Copies of what the record saw (the entry is gone afterwards).
  struct Seen {
    Seen(const ClientEntry& e) : socket(e.socket), disconnectTime(e.disconnectTime), links(e.links.size()) {}
    uint32_t socket;
    LocalTime disconnectTime;
    size_t links;
  };
  std::vector<Seen> recorded;
  std::string location;
};

class FakeSockets : public SocketLayer {
 public:
  void CloseSocket(uint32_t socket) override { closed.push_back(socket); }
  void OnSocketEvent(uint32_t, uint32_t) override {}
  std::vector<uint32_t> closed;
};

sockaddr_in Peer(const char* address) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  inet_pton(AF_INET, address, &peer.sin_addr);
  return peer;
}

class ClientCloseTest : public ::testing::Test {
 protected:
  ClientCloseTest() : clock({2015, 2, 1, 2, 8, 30, 0, 0}), gybl(Settings{}, clock, monitor, steps) {
    gybl.SetSocketLayer(&sockets);
  }
  ManualClock clock;
  RecordingMonitor monitor;
  RecordingSteps steps;
  FakeSockets sockets;
  CKavroGyBl gybl;
};

TEST_F(ClientCloseTest, AcceptBuildsTheEntryAndRefusesATakenSocket) {
  steps.location = "北京";
  ASSERT_EQ(gybl.Accept(12, Peer("10.1.2.3")), 1);
  const ClientEntry& e = gybl.clientTable.at(12);
  EXPECT_EQ(e.classifyState, kClassifyUndecided);
  EXPECT_TRUE(e.deviceBuffer && e.getBuffer && e.sourceBuffer && e.streamBuffer);
  EXPECT_EQ(e.connectTime.hour, 8);
  EXPECT_EQ(e.ipLocation, "北京");
  EXPECT_EQ(gybl.clientCount, 1);
  EXPECT_EQ(monitor.events, (std::vector<Event>{{1527, 0, 12}}));
  EXPECT_EQ(monitor.online, (std::vector<int>{1}));

  gybl.clientTable.at(12).userName = "old";
  EXPECT_EQ(gybl.Accept(12, Peer("10.9.9.9")), 0);
  EXPECT_EQ(gybl.clientTable.at(12).userName, "old");
  EXPECT_EQ(gybl.clientCount, 1);
}

TEST_F(ClientCloseTest, RefusedCloseLineCarriesTypeAgentAndAccount) {
  gybl.Accept(12, Peer("10.1.2.3"));
  gybl.Accept(13, Peer("10.1.2.4"));
  ClientEntry& e = gybl.clientTable.at(12);
  e.userName = "rover1";
  e.clientType = "NTRIP";
  e.agent = "NTRIP Foo/1.0";
  e.accountUnit = "unit";
  e.accountContact = "who";
  e.ipLocation = "loc";
  EXPECT_EQ(gybl.Close(12, CloseReason::kRefused), 1);
  ASSERT_EQ(monitor.lines.size(), 1u);
  EXPECT_EQ(monitor.lines[0].text,
            "[  12]客户端[rover1          (   2)][NTRIP][NTRIP Foo/1.0][unit][who] 关闭 10.1.2.3 loc {2}");
  EXPECT_EQ(monitor.lines[0].level, 255);
  EXPECT_EQ(monitor.lines[0].name, "rover1");
  EXPECT_EQ(gybl.clientCount, 1);
  EXPECT_EQ(sockets.closed, (std::vector<uint32_t>{12}));
}

TEST_F(ClientCloseTest, OtherReasonsUseTheShortLineAndTheirLevel) {
  struct Case {
    CloseReason reason;
    const char* user;
    int level;
  };
  const Case cases[] = {{CloseReason::kPeerClosed, "base1", 0},   {CloseReason::kPeerClosed, "", 255},
                        {CloseReason::kSendFailed, "base1", 255}, {CloseReason::kIdle, "base1", 0},
                        {CloseReason::kReadFailed, "", 255},      {CloseReason::kSendErrors, "x", 0}};
  for (const Case& c : cases) {
    monitor.lines.clear();
    gybl.Accept(30, Peer("192.168.0.1"));
    gybl.clientTable.at(30).userName = c.user;
    gybl.Close(30, c.reason);
    ASSERT_EQ(monitor.lines.size(), 1u);
    const std::string name = std::string(c.user) + std::string(16 - std::string(c.user).size(), ' ');
    EXPECT_EQ(monitor.lines[0].text, "[  30]客户端[" + name + "(   1)][][] 关闭 192.168.0.1  {" +
                                         std::to_string(static_cast<int>(c.reason)) + "}");
    EXPECT_EQ(monitor.lines[0].level, c.level) << static_cast<int>(c.reason) << " " << c.user;
  }
}

TEST_F(ClientCloseTest, ClosingARoverUnlinksItFromItsBaseAndRecordsIt) {
  gybl.Accept(20, Peer("10.0.0.20"));  // base
  gybl.Accept(21, Peer("10.0.0.21"));  // rover
  gybl.clientTable.at(20).links[21] = "rover";
  gybl.clientTable.at(21).links[20] = "base";
  clock.Set({2015, 2, 1, 2, 9, 0, 5, 0});
  monitor.events.clear();
  ASSERT_EQ(gybl.Close(21, CloseReason::kPeerClosed), 1);
  EXPECT_TRUE(gybl.clientTable.at(20).links.empty());
  EXPECT_EQ(gybl.clientTable.count(21), 0u);
  ASSERT_EQ(steps.recorded.size(), 1u);
  EXPECT_EQ(steps.recorded[0].socket, 21u);
  EXPECT_EQ(steps.recorded[0].disconnectTime.hour, 9);
  EXPECT_EQ(monitor.events, (std::vector<Event>{{1527, 4, 21}, {1525, 4, 21}, {1529, 7, 21}}));
}

TEST_F(ClientCloseTest, LinkRequestCloseSkipsTheMapAndUnknownSocketsLogNothing) {
  gybl.Accept(5, Peer("10.0.0.5"));
  monitor.events.clear();
  gybl.Close(5, CloseReason::kLinkRequest);
  EXPECT_EQ(monitor.events, (std::vector<Event>{{1527, 4, 5}, {1525, 4, 5}}));

  monitor.lines.clear();
  EXPECT_EQ(gybl.Close(99, CloseReason::kNoEntry), 0);
  EXPECT_TRUE(monitor.lines.empty());
  EXPECT_EQ(sockets.closed.back(), 99u);  // the socket itself is still closed
}

TEST_F(ClientCloseTest, CloseAllLogsNamedEntriesAndRecordsEveryOne) {
  gybl.Accept(0, Peer("0.0.0.0"));  // an entry without socket, like the test base
  gybl.Accept(8, Peer("10.0.0.8"));
  gybl.Accept(9, Peer("10.0.0.9"));
  gybl.clientTable.at(0).userName = "T128888";
  gybl.clientTable.at(9).userName = "rover9";
  monitor.lines.clear();
  gybl.CloseAll();
  EXPECT_EQ(sockets.closed, (std::vector<uint32_t>{8, 9}));
  ASSERT_EQ(monitor.lines.size(), 2u);
  EXPECT_EQ(monitor.lines[0].text, "客户端 T128888 关闭 {7}");
  EXPECT_EQ(monitor.lines[1].text, "客户端 rover9 关闭 {7}");
  EXPECT_EQ(steps.recorded.size(), 3u);
  EXPECT_TRUE(gybl.clientTable.empty());
  EXPECT_EQ(gybl.clientCount, 0);
}

}  // namespace
