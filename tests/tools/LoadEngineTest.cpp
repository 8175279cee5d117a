// The load engine against a tiny in-test NTRIP relay on loopback, and the built tool's exit status.
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <deque>
#include <map>
#include <memory>

#include "support/Loopback.h"
#include "tools/LoadEngine.h"
#include "tools/Rtcm3Frame.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

// Accepts SOURCE and GET requests, answers "ICY 200 OK\r\n\r\n" and copies each source's bytes to the
// rovers of its mountpoint. A fault can be put on the first rover's copy of the fourth chunk.
class TinyRelay {
 public:
  enum class Fault { None, DropChunk, FlipByte, RefuseRovers };

  TinyRelay(asio::io_context& io, Fault fault)
      : acceptor_(io, {asio::ip::make_address("127.0.0.1"), 0}), fault_(fault) {
    Accept();
  }
  int port() const { return acceptor_.local_endpoint().port(); }
  const std::string& roverBytes() const { return fromRovers_; }

  // Closes everything; the cancelled handlers then run without starting new work.
  void Stop() {
    stopped_ = true;
    acceptor_.close();
    for (auto& conn : all_) conn->socket.close();
  }

 private:
  struct Conn {
    explicit Conn(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::string inbox;
    char block[8192];
    bool source = false;
    std::string mount;
    std::deque<std::string> queue;
  };
  using ConnPtr = std::shared_ptr<Conn>;

  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (ec || stopped_) return;
      all_.push_back(std::make_shared<Conn>(std::move(socket)));
      Read(all_.back());
      Accept();
    });
  }

  void Read(const ConnPtr& conn) {
    conn->socket.async_read_some(asio::buffer(conn->block),
                                 [this, conn](boost::system::error_code ec, size_t n) {
                                   if (ec || stopped_) return;
                                   const std::string data(conn->block, n);
                                   if (conn->source) {
                                     Relay(conn->mount, data);
                                   } else if (conn->mount.empty()) {
                                     conn->inbox += data;
                                     const size_t end = conn->inbox.find("\r\n\r\n");
                                     if (end == std::string::npos) return Read(conn);
                                     const std::string line = conn->inbox.substr(0, conn->inbox.find("\r\n"));
                                     const size_t slash = line.find('/');
                                     conn->mount = line.substr(slash + 1, line.find(' ', slash) - slash - 1);
                                     conn->source = line.rfind("SOURCE ", 0) == 0;
                                     if (!conn->source && fault_ == Fault::RefuseRovers) {
                                       Send(conn, "SOURCETABLE 200 OK\r\n\r\n");
                                       return;
                                     }
                                     Send(conn, "ICY 200 OK\r\n\r\n");
                                     if (!conn->source) rovers_[conn->mount].push_back(conn);
                                   } else {
                                     fromRovers_ += data;
                                   }
                                   Read(conn);
                                 });
  }

  void Relay(const std::string& mount, const std::string& chunk) {
    const bool faulty = mount == "LOAD0" && ++chunksOfLoad0_ == 4;
    const auto& rovers = rovers_[mount];
    for (size_t i = 0; i < rovers.size(); ++i) {
      std::string copy = chunk;
      if (faulty && i == 0 && fault_ == Fault::DropChunk) continue;
      if (faulty && i == 0 && fault_ == Fault::FlipByte) copy[copy.size() / 2] ^= 0x40;
      Send(rovers[i], copy);
    }
  }

  void Send(const ConnPtr& conn, std::string bytes) {
    conn->queue.push_back(std::move(bytes));
    if (conn->queue.size() == 1) WriteNext(conn);
  }

  void WriteNext(const ConnPtr& conn) {
    asio::async_write(conn->socket, asio::buffer(conn->queue.front()),
                      [this, conn](boost::system::error_code ec, size_t) {
                        if (ec || stopped_) return;
                        conn->queue.pop_front();
                        if (!conn->queue.empty()) WriteNext(conn);
                      });
  }

  tcp::acceptor acceptor_;
  Fault fault_;
  bool stopped_ = false;
  int chunksOfLoad0_ = 0;
  std::vector<ConnPtr> all_;
  std::map<std::string, std::vector<ConnPtr>> rovers_;
  std::string fromRovers_;
};

struct RelayRun {
  ntripload::Report report;
  std::string roverBytes;
};

RelayRun RunAgainstRelay(TinyRelay::Fault fault, ntripload::Options options) {
  asio::io_context io;
  TinyRelay relay(io, fault);
  options.port = relay.port();
  RelayRun run;
  run.report = ntripload::RunLoad(io, options);
  run.roverBytes = relay.roverBytes();
  relay.Stop();
  io.restart();
  io.run();
  return run;
}

ntripload::Options Small() {
  ntripload::Options options;
  options.sources = 2;
  options.rovers = 5;
  options.rate = 20000;
  options.chunk = 100;
  options.duration = 0.5;
  options.drain = 2;
  return options;
}

TEST(LoadEngineTest, EveryRecordReachesEveryRoverThroughAFaithfulRelay) {
  ntripload::Options options = Small();
  options.gga = true;
  options.ntrip2 = true;
  const RelayRun run = RunAgainstRelay(TinyRelay::Fault::None, options);
  const auto& r = run.report;
  EXPECT_EQ(r.sources.connected, 2);
  EXPECT_EQ(r.rovers.connected, 5);
  EXPECT_GE(r.recordsSent, 50u);
  EXPECT_EQ(r.bytesSent, r.recordsSent * 100);
  // Rovers 0, 2, 4 read LOAD0 and 1, 3 read LOAD1. The two sources may stop one record apart
  // (a sent by LOAD0, b by LOAD1, |a - b| <= 1), so 2 * (3a + 2b) - 5 * (a + b) = a - b.
  const int64_t skew = static_cast<int64_t>(r.recordsExpected * 2) - static_cast<int64_t>(r.recordsSent * 5);
  EXPECT_LE(std::abs(skew), 1) << r.recordsExpected << " expected of " << r.recordsSent << " sent";
  EXPECT_EQ(r.stream.records, r.recordsExpected);
  EXPECT_EQ(r.bytesDelivered, r.recordsExpected * 100);
  EXPECT_EQ(r.latencySamples, r.stream.records);
  EXPECT_LE(r.latencyP50Ms, r.latencyP99Ms);
  EXPECT_LE(r.latencyP99Ms, r.latencyMaxMs);
  EXPECT_DOUBLE_EQ(r.deliveredRatio, 1.0);
  EXPECT_EQ(r.stream.missing + r.stream.corrupt + r.stream.outOfOrder + r.stream.cuts, 0u);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_TRUE(ntripload::Passed(r, options));
  EXPECT_EQ(r.ggaSent, 5u) << "one sentence per rover in the first second";
  EXPECT_NE(run.roverBytes.find("$GPGGA,"), std::string::npos);
  const std::string text = ntripload::FormatText(r, options);
  EXPECT_NE(text.find("result: PASS"), std::string::npos) << text;
  EXPECT_EQ(r.login.accepted, 5);
  EXPECT_EQ(r.login.answers, 5u);
  EXPECT_GT(r.login.seconds, 0.0);
  EXPECT_LE(r.login.answerMaxMs, r.login.seconds * 1000 + 1);
  EXPECT_LE(r.login.answerP50Ms, r.login.answerP99Ms);
  EXPECT_EQ(r.process.pid, 0) << "not sampled without --pid";
}

TEST(LoadEngineTest, FramedRecordsAndTheSampledProcess) {
  ntripload::Options options = Small();
  options.rtcm3 = true;
  options.pid = getpid();
  const RelayRun run = RunAgainstRelay(TinyRelay::Fault::None, options);
  const auto& r = run.report;
  EXPECT_GE(r.recordsSent, 40u);
  EXPECT_EQ(r.bytesSent, r.recordsSent * (100 + ntripload::kRtcm3Overhead));
  EXPECT_EQ(r.stream.records, r.recordsExpected);
  EXPECT_EQ(r.bytesDelivered, r.recordsExpected * (100 + ntripload::kRtcm3Overhead));
  EXPECT_EQ(r.stream.missing + r.stream.corrupt + r.stream.cuts + r.stream.skippedBytes, 0u);
  EXPECT_TRUE(ntripload::Passed(r, options));
  // The relay runs in this process: the window saw its work.
  EXPECT_TRUE(r.process.complete);
  EXPECT_GT(r.process.windowSeconds, 0.4);
  EXPECT_GT(r.process.rssStartKib, 0u);
  EXPECT_GE(r.process.peakRssKib, r.process.rssEndKib);
  const std::string json = ntripload::FormatJson(r, options);
  EXPECT_NE(json.find("\"process\":{\"pid\":" + std::to_string(getpid()) + ",\"complete\":true"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"login\":{\"seconds\":"), std::string::npos) << json;
}

TEST(LoadEngineTest, LostAlteredAndRefusedDeliveriesFail) {
  const ntripload::Options options = Small();
  const RelayRun dropped = RunAgainstRelay(TinyRelay::Fault::DropChunk, options);
  EXPECT_GE(dropped.report.stream.missing, 1u);
  EXPECT_EQ(dropped.report.stream.corrupt, 0u);
  EXPECT_LT(dropped.report.deliveredRatio, 1.0);
  EXPECT_FALSE(ntripload::Passed(dropped.report, options));

  const RelayRun flipped = RunAgainstRelay(TinyRelay::Fault::FlipByte, options);
  EXPECT_EQ(flipped.report.stream.corrupt, 1u);
  EXPECT_EQ(flipped.report.stream.missing, 0u);
  EXPECT_FALSE(ntripload::Passed(flipped.report, options));
  ntripload::Options tolerant = options;
  tolerant.minRatio = 0.5;
  EXPECT_FALSE(ntripload::Passed(flipped.report, tolerant)) << "a corrupt record fails whatever the ratio";
  EXPECT_TRUE(ntripload::Passed(dropped.report, tolerant));

  const RelayRun refused = RunAgainstRelay(TinyRelay::Fault::RefuseRovers, options);
  EXPECT_EQ(refused.report.sources.connected, 2);
  EXPECT_EQ(refused.report.rovers.connected, 0);
  EXPECT_EQ(refused.report.rovers.refused, 5);
  EXPECT_EQ(refused.report.errors.at("rover refused: SOURCETABLE 200 OK"), 5);
  EXPECT_EQ(refused.report.login.refused, 5);
  EXPECT_EQ(refused.report.login.accepted, 0);
  EXPECT_FALSE(ntripload::Passed(refused.report, options));
}

// Runs the built tool; returns its exit status and standard output.
int RunTool(const std::string& arguments, std::string& output) {
  FILE* pipe = popen((std::string(KAVRO_LOAD_TOOL) + " " + arguments + " 2>/dev/null").c_str(), "r");
  char block[4096];
  for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) output.append(block, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LoadEngineTest, ToolExitStatus) {
  std::string out;
  EXPECT_EQ(RunTool("--host 192.0.2.1", out), 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(RunTool("--help", out), 0);
  EXPECT_NE(out.find("--min-ratio"), std::string::npos);
  out.clear();
  // Nothing listens on the port: every connect fails, the run ends at once with status 1.
  const int port = testsupport::FreeLoopbackPort();
  EXPECT_EQ(RunTool("--json --rovers 2 --duration 5 --port " + std::to_string(port), out), 1);
  EXPECT_NE(
      out.find("\"sources\":{\"planned\":1,\"connected\":0,\"refused\":0,\"timedOut\":0,\"connectFailed\":1"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("\"passed\":false"), std::string::npos) << out;
  EXPECT_NE(out.find("\"answers\":0,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"connectFailed\":2}"), std::string::npos)
      << "both rovers, in the login phase: " << out;
}

}  // namespace
