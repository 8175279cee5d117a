// The one-second tick closing stale connections over real loopback sockets; the tick is driven
// directly, one call per second.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "core/AccountServices.h"
#include "core/CasterHandlers.h"
#include "core/CasterServices.h"
#include "core/Housekeeping.h"
#include "core/ntrip/Base64.h"
#include "gnss/DecoderContext.h"
#include "support/Loopback.h"
#include "support/NoAccounts.h"

namespace {

using namespace testsupport;

class Lines : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record.text); }
  bool EndsWithReason(int reason) const {
    const std::string tail = "{" + std::to_string(reason) + "}";
    return !lines.empty() && lines.back().size() >= tail.size() &&
           lines.back().compare(lines.back().size() - tail.size(), tail.size(), tail) == 0;
  }
  std::vector<std::string> lines;
};

class StaleCloseTest : public ::testing::Test {
 protected:
  StaleCloseTest()
      : gybl(Settings{}, clock, monitor, steps),
        accounts(gybl.settings.flags),
        services(gybl, accounts, io.get_executor()),
        handlers(gybl, accounts, services, decoders),
        frame(io, gybl, handlers),
        housekeeping(gybl) {
    gybl.localAddresses = {"127.0.0.1"};
    gybl.settings.port = FreeLoopbackPort();
    EXPECT_EQ(frame.StartService(), 1);
  }
  ~StaleCloseTest() override {
    for (int fd : fds) close(fd);
  }
  int Connect() {
    const int fd = ConnectLoopback(gybl.settings.port);
    fds.push_back(fd);
    const size_t before = gybl.clientTable.size();
    EXPECT_TRUE(RunUntil(io, [&] { return gybl.clientTable.size() == before + 1; }));
    return fd;
  }
  // Sends a request and runs the loop until its reply arrived.
  std::string Ask(int fd, const std::string& request) {
    SendAll(fd, request);
    std::string reply;
    RunUntil(io, [&] {
      ReadAvailable(fd, reply);
      return reply.find("\r\n\r\n") != std::string::npos;
    });
    return reply;
  }
  bool PeerClosed(int fd) {
    std::string ignored;
    return RunUntil(
        io, [&] { return !ReadAvailable(fd, ignored); }, std::chrono::seconds(2));
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) housekeeping.OnTick();
  }

  boost::asio::io_context io;
  SystemClock clock;
  Lines monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  testsupport::NoAccounts accounts;
  CasterServices services;
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext decoders{monitor, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers;
  CMainFrame frame;
  Housekeeping housekeeping;
  std::vector<int> fds;
};

TEST_F(StaleCloseTest, SilentConnectionsCloseOnePerTick) {
  const int first = Connect();
  const int second = Connect();
  Ticks(30);
  EXPECT_EQ(gybl.clientTable.size(), 2u);
  Ticks(1);
  EXPECT_TRUE(PeerClosed(first));
  EXPECT_TRUE(monitor.EndsWithReason(8));
  EXPECT_EQ(gybl.clientTable.size(), 1u);
  Ticks(1);
  EXPECT_TRUE(PeerClosed(second));
  EXPECT_TRUE(gybl.clientTable.empty());
}

TEST_F(StaleCloseTest, SilentBaseThenItsUnlinkedRover) {
  const int base = Connect();
  EXPECT_EQ(Ask(base, "SOURCE pw /RTK1\r\nSource-Agent: NTRIP T\r\n\r\n"), "ICY 200 OK\r\n\r\n");
  const int rover = Connect();
  EXPECT_EQ(Ask(rover, "GET /RTK1 HTTP/1.0\r\nAuthorization: Basic " + EncodeBase64("u:p") + "\r\n\r\n")
                .rfind("ICY 200 OK\r\n", 0),
            0u);
  Ticks(300);
  EXPECT_EQ(gybl.clientTable.size(), 2u);  // a linked rover lives as long as its base
  Ticks(1);
  EXPECT_TRUE(PeerClosed(base));
  EXPECT_TRUE(monitor.EndsWithReason(10));
  Ticks(1);  // unlinked now, and silent for long
  EXPECT_TRUE(PeerClosed(rover));
  EXPECT_TRUE(monitor.EndsWithReason(8));
}

}  // namespace
