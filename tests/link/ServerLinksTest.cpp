// The server link slots over loopback: records and their effects, connect and reconnect on the tick's
// schedule, and the end of the last link.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "app/CasterSteps.h"
#include "core/Housekeeping.h"
#include "link/LoopbackServer.h"
#include "link/ServerLinks.h"
#include "support/NetServerProcess.h"

namespace {

using testsupport::LoopbackServer;
using testsupport::RunUntil;

class RecordingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  void OnTree(int code, const ClientEntry*, int) override { events.push_back("tree " + std::to_string(code)); }
  void OnMap(int code, const ClientEntry*) override { events.push_back("map " + std::to_string(code)); }
  bool Has(const std::string& text, int level) const {
    for (const LogRecord& l : lines) {
      if (l.text == text && l.level == level) return true;
    }
    return false;
  }
  std::vector<LogRecord> lines;
  std::vector<std::string> events;
};

class ServerLinksTest : public ::testing::Test {
 protected:
  ServerLinksTest() : clock({2015, 2, 1, 2, 8, 30, 0, 0}), gybl(Settings{}, clock, monitor, steps), links(gybl, io.get_executor()) {
    steps.AttachLinks(&links);
    gybl.buildNumber = 20261209;
  }
  void Feed(int slot, const std::string& text) {
    links.thread(slot).OnBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

  boost::asio::io_context io;
  ManualClock clock;
  RecordingMonitor monitor;
  CasterSteps steps{nullptr, false};
  CKavroGyBl gybl;
  ServerLinks links;
};

TEST_F(ServerLinksTest, RecordsAndTheirEffects) {
  Feed(0, "VORAN,MOUNT,UP1,1,RTCM 3.2_1004(1)\r\nVORAN,MOUNT,UP2,0,x\r\nVORAN,MOUNTEND,QVO-1,t2\r\n");
  ASSERT_EQ(gybl.mounts.size(), 2u);
  EXPECT_EQ(gybl.mounts[0]->description, "RTCM 3.2,1004(1)");
  EXPECT_EQ(gybl.mounts[1]->formatIndex, 0);
  EXPECT_TRUE(monitor.Has("QVO-1 Mount[UP1,UP2,]", kLogNormal));
  Feed(3, "VORAN,MOUNT,UP3,1,x\r\nVORAN,MOUNTEND,Other,y\r\n");  // only slot 0 announces mountpoints
  EXPECT_EQ(gybl.mounts.size(), 2u);
  EXPECT_EQ(gybl.upstreamServerName, "QVO-1");

  Feed(2, "VORAN,RANGE,30,31,120,121,140818\r\n");
  EXPECT_EQ(gybl.linkSlots[2].coverage, (std::array<double, 4>{30, 31, 120, 121}));
  EXPECT_EQ(monitor.lines.size(), 1u);  // version 140818: no warning
  Feed(2, "VORAN,RANGE,10,11,12,13,140817\r\n");
  EXPECT_EQ(gybl.linkSlots[2].coverage, (std::array<double, 4>{10, 11, 12, 13}));
  EXPECT_TRUE(monitor.Has("QVO Net 140817 Version of the Data not uniform", kLogRed));

  Feed(1, "VORAN,LINE,A,0.5,2.0,B,0.6,2.1,OK\r\n");
  EXPECT_EQ(gybl.upstreamStatus.mode, 1);
  EXPECT_NEAR(gybl.upstreamStatus.secondLongitude, 2.1 * 180.0 / 3.141592653589793, 1e-9);
  EXPECT_FALSE(gybl.upstreamStatus.error);
  Feed(1, "VORAN,BASE,,0.5,2.0,OK\r\n");  // an empty name ends the fields: no position, no status
  EXPECT_EQ(gybl.upstreamStatus.mode, 0);
  EXPECT_EQ(gybl.upstreamStatus.firstName, "");
  EXPECT_EQ(gybl.upstreamStatus.firstLatitude, 0.0);
  EXPECT_TRUE(gybl.upstreamStatus.error);
  EXPECT_EQ(std::count(monitor.events.begin(), monitor.events.end(), "map 11"), 2);
  EXPECT_EQ(std::count(monitor.events.begin(), monitor.events.end(), "tree 15"), 1);
}

// Two slots on one server each connect and announce themselves; the tick retries a lost slot on its
// schedule; the last link's end clears the upstream list and says so.
TEST_F(ServerLinksTest, ConnectAnnounceLoseAndReconnect) {
  LoopbackServer server;
  for (int i = 0; i < 2; ++i) gybl.settings.links[static_cast<size_t>(i)] = {"127.0.0.1", server.port()};
  gybl.settings.links[2] = {"", 0};
  gybl.serviceRunning = 1;
  Housekeeping housekeeping(gybl);
  links.Arm();
  housekeeping.OnTick();  // slot 0 at once
  const int first = server.Accept(io);
  ASSERT_GE(first, 0);
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.linkSlots[0].connected == 1; }));
  EXPECT_TRUE(monitor.Has("QVO Link Ok [127.0.0.1] [" + std::to_string(server.port()) + "]", kLogNormal));
  std::string announced;
  ASSERT_TRUE(RunUntil(io, [&] { return testsupport::ReadAvailable(first, announced) && announced.size() >= 31; }));
  EXPECT_EQ(announced, "VORAN,KAVOROSERVER,20261209,0\r\n");
  for (int tick = 0; tick < 20; ++tick) housekeeping.OnTick();  // slot 1 after 20·2+1 ticks
  const int second = server.Accept(io);
  ASSERT_GE(second, 0);
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.linkSlots[1].connected == 1; }));
  testsupport::SendAll(first, "VORAN,MOUNT,UP1,1,x\r\nVORAN,MOUNTEND,S,t\r\n");
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.mounts.size() == 1; }));

  server.Drop(first);  // one of two links lost: the list stays
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.linkSlots[0].connected == 0; }));
  EXPECT_EQ(gybl.mounts.size(), 1u);
  for (int tick = 0; tick < 21; ++tick) housekeeping.OnTick();  // retried 21 ticks later
  const int again = server.Accept(io);
  ASSERT_GE(again, 0);
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.linkSlots[0].connected == 1; }));
  EXPECT_TRUE(gybl.mounts.empty());  // slot 0 connected again: its list starts anew

  testsupport::SendAll(again, "VORAN,MOUNT,UP1,1,x\r\n");
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.mounts.size() == 1; }));
  steps.StopLinks();  // the service stop closes both; the last one clears the list
  EXPECT_TRUE(gybl.mounts.empty());
  EXPECT_TRUE(monitor.Has("QVO Link Close", kLogRed));
}

// The network server stand-in stopped and started again on its port: the slot is retried on the
// tick's schedule, takes the mountpoints again and announces itself again.
TEST_F(ServerLinksTest, StandInStoppedAndRestartedIsLinkedAgain) {
  auto server = std::make_unique<testsupport::StandIn>(std::vector<std::string>{"--port", "0", "--status-every", "0"});
  const int port = server->port();
  ASSERT_GT(port, 0);
  gybl.settings.links[0] = {"127.0.0.1", port};
  gybl.settings.links[1] = {"", 0};
  gybl.serviceRunning = 1;
  Housekeeping housekeeping(gybl);
  links.Arm();
  housekeeping.OnTick();
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.mounts.size() == 1; }));
  EXPECT_EQ(gybl.mounts[0]->name, "UPSTREAM1");
  EXPECT_EQ(server->Finish(SIGTERM), 0);
  ASSERT_TRUE(RunUntil(io, [&] { return monitor.Has("QVO Link Close", kLogRed); }));
  EXPECT_TRUE(gybl.mounts.empty());
  server = std::make_unique<testsupport::StandIn>(
      std::vector<std::string>{"--port", std::to_string(port), "--status-every", "0"});
  ASSERT_EQ(server->port(), port);
  for (int tick = 0; tick < 20; ++tick) housekeeping.OnTick();
  io.restart();
  io.poll();
  EXPECT_TRUE(gybl.mounts.empty());  // not yet: 21 ticks after the loss
  housekeeping.OnTick();
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.mounts.size() == 1; }));
  EXPECT_TRUE(server->Has("LINK VORAN,KAVOROSERVER,20261209,0"));
}

TEST_F(ServerLinksTest, RefusedConnectIsLoggedAndRetried) {
  LoopbackServer refusing(false);
  gybl.settings.links[0] = {"127.0.0.1", refusing.port()};
  gybl.settings.links[1] = {"", 0};
  gybl.serviceRunning = 1;
  Housekeeping housekeeping(gybl);
  links.Arm();
  housekeeping.OnTick();
  const std::string failed = "QVO Link Fail [127.0.0.1] [" + std::to_string(refusing.port()) + "]";
  ASSERT_TRUE(RunUntil(io, [&] { return monitor.Has(failed, kLogRed); }));
  EXPECT_EQ(std::count(monitor.events.begin(), monitor.events.end(), "map 12"), 1);
}

}  // namespace
