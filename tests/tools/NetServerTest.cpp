// The built network server stand-in on loopback (link lines, rover streams, its bounds), and the load
// tool's upstream rovers through a tiny forwarding caster to the stand-in running in-process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "support/Loopback.h"
#include "support/NetServerProcess.h"
#include "tools/LoadEngine.h"
#include "tools/LoadRecord.h"
#include "tools/NetServer.h"

namespace {

using testsupport::StandIn;

namespace asio = boost::asio;
using asio::ip::tcp;
using testsupport::ConnectLoopback;
using testsupport::ReadAvailable;
using testsupport::SendAll;

constexpr auto kDeadline = std::chrono::seconds(10);

// Reads from fd until done(bytes) holds; false at the peer's close or the deadline.
bool ReadUntil(int fd, std::string& bytes, const std::function<bool(const std::string&)>& done) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!done(bytes)) {
    pollfd p{fd, POLLIN, 0};
    if (std::chrono::steady_clock::now() > end || poll(&p, 1, 100) < 0 || !ReadAvailable(fd, bytes)) {
      return done(bytes);
    }
  }
  return true;
}

const std::string kGetMode =
    "VORAN,GETMODE,RTK1,user7,0,0,1,0.00000,0.00000,0.00000,0.000000000000,0.000000000000,0.000000000000,"
    "0.000000000000";
const std::string kGga = "$GPGGA,021505.00,4807.03800,N,01131.00000,E,4,08,0.9,545.4,M,0.0,M,1.0,0000*5C";

TEST(NetServerTest, LinkLinesAndAnIntactRecordStream) {
  StandIn server({"--port", "0", "--mount", "RTK1:1:RTCM 3, city", "--mount", "CMR1:2:cmr", "--range",
                  "30,40,110,120", "--base", "B1,30,110", "--status-every", "0.05", "--rate", "20000",
                  "--chunk", "100", "--log-gga"});
  ASSERT_GT(server.port(), 0);

  const int link = ConnectLoopback(server.port());
  ASSERT_GE(link, 0);
  ASSERT_TRUE(SendAll(link, "junk\r\nVORAN,KAVOROSERVER,20261209,3\r\n"));
  const std::string greeting =
      "VORAN,MOUNT,RTK1,1,RTCM 3_ city\r\nVORAN,MOUNT,CMR1,2,cmr\r\nVORAN,MOUNTEND,KAVRONET,1\r\n"
      "VORAN,RANGE,30,40,110,120,140818\r\n";
  const std::string base = "VORAN,BASE,B1,0.5235987756,1.9198621772,OK\r\n";
  std::string fromLink;
  EXPECT_TRUE(ReadUntil(link, fromLink,
                        [&](const std::string& b) { return b.size() >= greeting.size() + 3 * base.size(); }));
  EXPECT_EQ(fromLink.substr(0, greeting.size()), greeting);
  EXPECT_EQ(fromLink.substr(greeting.size(), 3 * base.size()), base + base + base)
      << "a status line each period";

  const int rover = ConnectLoopback(server.port());
  ASSERT_GE(rover, 0);
  ASSERT_TRUE(SendAll(rover, kGetMode + "\r\n" + kGga + "\r\n"));
  ntripload::RecordChecker checker(ntripload::MountSource("RTK1"), 100, 0);
  std::string fromRover;
  EXPECT_TRUE(ReadUntil(rover, fromRover, [&](const std::string& b) {
    checker.Feed(b);
    fromRover.clear();
    return checker.counts().records >= 40;
  }));
  const auto& c = checker.counts();
  EXPECT_EQ(c.missing + c.corrupt + c.cuts + c.skippedBytes + c.outOfOrder, 0u);

  EXPECT_EQ(server.Finish(SIGTERM), 0);
  close(link);
  close(rover);
  const std::string& log = server.output();
  EXPECT_NE(log.find("\n#1 LINK VORAN,KAVOROSERVER,20261209,3\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\n#2 GETMODE " + kGetMode + "\n"), std::string::npos);
  EXPECT_NE(log.find("\n#2 GGA " + kGga + "\n"), std::string::npos);
  EXPECT_EQ(log.find("WARN"), std::string::npos);
  EXPECT_TRUE(log.ends_with("\nSTOP SIGTERM\n"));
}

TEST(NetServerTest, StopsByItselfRefusesExtraConnectionsAndLoopsTheFile) {
  const auto file = std::filesystem::temp_directory_path() / ("netserver-" + std::to_string(getpid()));
  std::string recorded;
  for (int i = 0; i < 100; ++i) recorded.push_back(static_cast<char>(i * 7));
  std::ofstream(file, std::ios::binary) << recorded;
  StandIn server({"--port", "0", "--max-connections", "1", "--duration", "1", "--stream", file.string(),
                  "--chunk", "64", "--rate", "100000"});
  std::filesystem::remove(file);
  const int rover = ConnectLoopback(server.port());
  ASSERT_GE(rover, 0);
  ASSERT_TRUE(server.Has("#1 OPEN"));
  const int extra = ConnectLoopback(server.port());
  std::string none;
  EXPECT_FALSE(ReadUntil(extra, none, [](const std::string&) { return false; })) << "closed at once";
  // A malformed request still gets the stream: the stand-in reports it and serves the mountpoint.
  ASSERT_TRUE(SendAll(rover, "VORAN,GETMODE,UPSTREAM1,u,0,0,0,0.0\r\n"));
  std::string bytes;
  EXPECT_TRUE(ReadUntil(rover, bytes, [](const std::string& b) { return b.size() >= 1000; }));
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], recorded[i % 100]) << i;

  EXPECT_EQ(server.Finish(0), 0);
  close(rover);
  close(extra);
  const std::string& log = server.output();
  EXPECT_NE(log.find("\n#2 REFUSED too many connections (1 open)\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\n#1 WARN GETMODE: expected 14 fields, found 8\n"), std::string::npos);
  EXPECT_TRUE(log.ends_with("\nSTOP duration\n"));
  EXPECT_EQ(StandIn({"--host", "192.0.2.1"}).Finish(0), 2);
}

// Answers NTRIP GET requests with "ICY 200 OK" and, at a rover's first GGA, opens its upstream
// connection to the stand-in (GETMODE line and the GGA) and copies what comes back. A fault may drop
// the third upstream block of the first rover. Writes are blocking: a few kilobytes on loopback.
class ForwardingCaster {
 public:
  ForwardingCaster(asio::io_context& io, int upstreamPort, bool dropBlock)
      : acceptor_(io, {asio::ip::make_address("127.0.0.1"), 0}),
        upstreamPort_(upstreamPort),
        drop_(dropBlock) {
    Accept();
  }
  int port() const { return acceptor_.local_endpoint().port(); }
  void Stop() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    for (auto& r : rovers_) r->down.close(ignored), r->up.close(ignored);
  }

 private:
  struct Rover {
    explicit Rover(tcp::socket s) : down(std::move(s)), up(down.get_executor()) {}
    tcp::socket down, up;
    std::string inbox, mount;
    bool linked = false;
    char block[4096], upBlock[4096];
    int upBlocks = 0;
  };
  using RoverPtr = std::shared_ptr<Rover>;

  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (ec) return;
      rovers_.push_back(std::make_shared<Rover>(std::move(socket)));
      ReadDown(rovers_.back());
      Accept();
    });
  }

  void ReadDown(const RoverPtr& r) {
    r->down.async_read_some(asio::buffer(r->block), [this, r](boost::system::error_code ec, size_t n) {
      if (ec) return;
      r->inbox.append(r->block, n);
      boost::system::error_code ignored;
      if (r->mount.empty() && r->inbox.find("\r\n\r\n") != std::string::npos) {
        r->mount = r->inbox.substr(5, r->inbox.find(' ', 5) - 5);
        r->inbox.erase(0, r->inbox.find("\r\n\r\n") + 4);
        asio::write(r->down, asio::buffer(std::string("ICY 200 OK\r\n\r\n")), ignored);
      }
      const size_t gga = r->inbox.find("$GPGGA");
      if (!r->mount.empty() && !r->linked && gga != std::string::npos &&
          r->inbox.find("\r\n", gga) != std::string::npos) {
        r->linked = true;
        r->up.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(upstreamPort_)},
                      ignored);
        const std::string request = "VORAN,GETMODE," + r->mount +
                                    ",u,0,0,0,0.00000,0.00000,0.00000,0.000000000000,0.000000000000,"
                                    "0.000000000000,0.000000000000\r\n" +
                                    r->inbox.substr(gga);
        asio::write(r->up, asio::buffer(request), ignored);
        ReadUp(r);
      }
      ReadDown(r);
    });
  }

  void ReadUp(const RoverPtr& r) {
    r->up.async_read_some(asio::buffer(r->upBlock), [this, r](boost::system::error_code ec, size_t n) {
      if (ec) return;
      boost::system::error_code ignored;
      if (!(drop_ && r == rovers_.front() && ++r->upBlocks == 3))
        asio::write(r->down, asio::buffer(r->upBlock, n), ignored);
      ReadUp(r);
    });
  }

  tcp::acceptor acceptor_;
  int upstreamPort_;
  bool drop_;
  std::vector<RoverPtr> rovers_;
};

struct UpstreamCase {
  const char* name;
  bool gga;
  bool dropBlock;
  bool passes;
};

void PrintTo(const UpstreamCase& c, std::ostream* out) { *out << c.name; }

class NetServerUpstreamTest : public testing::TestWithParam<UpstreamCase> {};

TEST_P(NetServerUpstreamTest, LoadRoversCheckTheStandInRecords) {
  const UpstreamCase& c = GetParam();
  asio::io_context io;
  netserver::Options serverOptions;
  serverOptions.port = 0;
  serverOptions.mounts = {{"UP1", 1, ""}, {"UP2", 1, ""}};
  serverOptions.rate = 20000;
  serverOptions.chunk = 100;
  std::vector<std::string> log;
  netserver::NetServer server(io, serverOptions, "", [&](const std::string& line) { log.push_back(line); });
  ForwardingCaster caster(io, server.port(), c.dropBlock);

  ntripload::Options load;
  load.port = caster.port();
  load.sources = 0;
  load.upstreamMounts = {"UP1", "UP2"};
  load.rovers = 4;
  load.gga = c.gga;
  load.chunk = 100;
  load.duration = 0.5;
  const ntripload::Report r = ntripload::RunLoad(io, load);
  server.Stop("test");
  caster.Stop();
  io.restart();
  io.run();

  EXPECT_EQ(r.rovers.connected, 4);
  if (c.gga) {
    EXPECT_GT(r.ggaSent, 4u) << "one GGA right after each answer, then one a second";
  }
  EXPECT_EQ(ntripload::Passed(r, load), c.passes) << ntripload::FormatText(r, load);
  if (c.passes) {
    EXPECT_GE(r.stream.records, 4u * 20u) << "about 100 records per rover in 0.5 s";
    EXPECT_EQ(r.recordsExpected, r.stream.records);
    EXPECT_EQ(r.latencySamples, r.stream.records);
    EXPECT_GE(r.bytesDelivered, r.stream.records * 100);
    EXPECT_LT(r.bytesDelivered, r.stream.records * 100 + 4 * 100) << "at most a part record per rover";
    EXPECT_EQ(r.stream.corrupt + r.stream.missing + r.stream.cuts + r.stream.skippedBytes, 0u);
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& l) { return l.find(" GETMODE VORAN,GETMODE,UP") != l.npos; }),
        4);
  } else if (c.gga) {
    EXPECT_GT(r.stream.missing + r.stream.cuts, 0u);
  } else {
    EXPECT_EQ(r.roversWithoutData, 4);
  }
  const std::string json = ntripload::FormatJson(r, load);
  EXPECT_NE(json.find("\"upstream\":{\"mounts\":[\"UP1\",\"UP2\"],\"roversWithoutData\":"), std::string::npos)
      << json;
}

INSTANTIATE_TEST_SUITE_P(Cases, NetServerUpstreamTest,
                         testing::Values(UpstreamCase{"Faithful", true, false, true},
                                         UpstreamCase{"DroppedBlock", true, true, false},
                                         UpstreamCase{"NoGga", false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
