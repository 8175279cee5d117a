#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/KavroGyBl.h"
#include "link/UpstreamReport.h"

namespace {

// Records what the send primitive was given, per socket.
class SentLines : public SocketLayer {
 public:
  explicit SentLines(CKavroGyBl& gybl) : gybl_(gybl) {}
  void CloseSocket(uint32_t) override {}
  void OnSocketEvent(uint32_t socket, uint32_t event) override {
    ASSERT_EQ(event, kFdWrite);
    const ClientEntry& entry = gybl_.clientTable.at(socket);
    sent.emplace_back(socket, std::string(reinterpret_cast<const char*>(entry.sendData), entry.sendLength));
  }
  std::vector<std::pair<uint32_t, std::string>> sent;

 private:
  CKavroGyBl& gybl_;
};

class UpstreamReportTest : public ::testing::Test {
 protected:
  UpstreamReportTest()
      : clock({2015, 2, 1, 2, 8, 30, 0, 0}), gybl(Settings{}, clock, monitor, steps), lines(gybl) {
    gybl.SetSocketLayer(&lines);
  }
  ClientEntry& Add(uint32_t socket, std::string name, std::string type, std::string agent) {
    ClientEntry& entry = gybl.clientTable[socket];
    entry.socket = socket;
    entry.userName = std::move(name);
    entry.clientType = std::move(type);
    entry.agent = std::move(agent);
    return entry;
  }
  // A device-protocol rover of the upstream network linked to no base.
  ClientEntry& AddDeviceRover(uint32_t socket, std::string agent) {
    ClientEntry& entry = Add(socket, "rover" + std::to_string(socket), "ROVE", std::move(agent));
    entry.classifyState = kClassifyDevice;
    return entry;
  }

  ManualClock clock;
  MonitorEvents monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  SentLines lines;
};

using Sent = std::vector<std::pair<uint32_t, std::string>>;

TEST_F(UpstreamReportTest, FixRateCountsFixedAmongFourQualities) {
  UpstreamReport(gybl);
  EXPECT_EQ(gybl.statistics.fixRate, 0.0);  // no GGA anywhere

  Add(5, "a", "NTRIP", "").ggaCounters = {3, 1, 0, 0, 7, 11};  // "other" qualities are left out
  Add(6, "b", "NTRIP", "").ggaCounters = {1, 0, 2, 2, 0, 5};
  UpstreamReport(gybl);
  EXPECT_DOUBLE_EQ(gybl.statistics.fixRate, 4.0 / 9.0);

  gybl.clientTable.clear();
  Add(5, "a", "NTRIP", "").ggaCounters = {0, 0, 0, 0, 9, 9};
  UpstreamReport(gybl);
  EXPECT_EQ(gybl.statistics.fixRate, 0.0);
}

TEST_F(UpstreamReportTest, DeviceRoverWithoutBaseGetsBaseFailAtEveryReport) {
  AddDeviceRover(7, "NTRIP-KavroNet");
  AddDeviceRover(8, " NTRIP-KavroNet");
  AddDeviceRover(9, "NTRIP-Other");
  AddDeviceRover(10, "NTRIP-Other").receiverCodeKind = 3;  // a '*' receiver code takes part anyway
  AddDeviceRover(11, "NTRIP-Other").receiverCodeKind = 2;
  AddDeviceRover(12, "NTRIP-KavroNet").links[30] = "BASE1";               // linked: nothing to say
  AddDeviceRover(13, "NTRIP-KavroNet").classifyState = kClassifyGet;      // not the device protocol
  Add(14, "", "ROVE", "NTRIP-KavroNet").classifyState = kClassifyDevice;  // not logged in
  Add(15, "nt", "NTRIP", "NTRIP-KavroNet").classifyState = kClassifyDevice;

  UpstreamReport(gybl);
  UpstreamReport(gybl);
  const std::string fail = "VORAN,BASE,FAIL\r\n";
  EXPECT_EQ(lines.sent, (Sent{{7, fail}, {8, fail}, {10, fail}, {7, fail}, {8, fail}, {10, fail}}));
}

TEST_F(UpstreamReportTest, BasesOfTheNetworkHearWhetherTheyFeedRovers) {
  ClientEntry& feeding = Add(20, "BASE1", "BASE", "NTRIP-KavroNet");
  feeding.links = {{31, "r1"}, {32, "r2"}};
  Add(21, "BASE2", "BASE", " NTRIP-KavroNet");
  Add(22, "BASE3", "BASE", "NTRIP Other").links = {{33, "r3"}};  // counted, not told
  Add(23, "watch", "GETGGA", "NTRIP-KavroNet");                  // neither
  Add(0, "T128888", "BASE", "NTRIP-KavroNet");                   // the test base has no socket

  UpstreamReport(gybl);
  UpstreamReport(gybl);
  EXPECT_EQ(lines.sent, (Sent{{20, "VORAN,ROVELINK,ON,\r\n"},
                              {21, "VORAN,ROVELINK,OFF,\r\n"},
                              {20, "VORAN,ROVELINK,ON,\r\n"},
                              {21, "VORAN,ROVELINK,OFF,\r\n"}}));
  EXPECT_EQ(gybl.statistics.basesOnline, 3);
}

}  // namespace
