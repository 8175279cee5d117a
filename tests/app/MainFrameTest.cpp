#include "app/MainFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/Loopback.h"
#include "support/TlsTestSupport.h"

namespace {

using testsupport::ConnectLoopback;
using testsupport::FreeLoopbackPort;
using testsupport::ReadAvailable;
using testsupport::RunUntil;
using testsupport::SendAll;

class CapturingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override {
    lines.push_back(record.text);
    if (record.level == kLogRed) redLines.push_back(record.text);
  }
  bool Has(const std::string& text) const {
    for (const auto& l : lines) {
      if (l == text) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
  std::vector<std::string> redLines;
};

// "VORAN,SRC" makes a connection the source: its data goes to every other connection as one
// shared chunk. GET requests are kept.
class RelayHandlers : public RequestHandlers {
 public:
  explicit RelayHandlers(CKavroGyBl& gybl) : gybl_(gybl) {}
  int HandleDeviceLine(char* request, uint32_t socket) override {
    if (std::strncmp(request, "VORAN,SRC", 9) != 0) return 0;
    ClientEntry& e = gybl_.clientTable.at(socket);
    e.classifyState = kClassifyDevice;
    e.userName = "SRC";
    source = socket;
    return 1;
  }
  int HandleGetRequest(char*, uint32_t socket) override {
    ClientEntry& e = gybl_.clientTable.at(socket);
    e.classifyState = kClassifyGet;
    e.userName = "rover" + std::to_string(socket);
    gets.push_back(socket);
    return 1;
  }
  int HandleSourceRequest(char*, uint32_t) override { return 0; }
  void DispatchData(uint8_t* data, uint32_t count, uint32_t socket) override {
    if (socket != source) return;
    const SharedChunk chunk = MakeChunk(data, count);
    std::vector<uint32_t> targets;
    for (const auto& [key, entry] : gybl_.clientTable) {
      if (key != socket) targets.push_back(key);
    }
    for (uint32_t target : targets) gybl_.Send(target, chunk->data(), count, chunk);
  }
  uint32_t source = 0;
  std::vector<uint32_t> gets;  // sockets in the order their GET arrived

 private:
  CKavroGyBl& gybl_;
};

class MainFrameTest : public ::testing::Test {
 protected:
  MainFrameTest() : gybl(Settings{}, clock, monitor, steps), handlers(gybl), frame(io, gybl, handlers) {
    gybl.localAddresses = {"127.0.0.1"};
    gybl.versionText = "2.00.150202";
    gybl.settings.port = FreeLoopbackPort();
  }
  ~MainFrameTest() override {
    for (int fd : clients) close(fd);
  }
  int Client(int receiveBuffer = 0) {
    const int fd = ConnectLoopback(gybl.settings.port, receiveBuffer);
    clients.push_back(fd);
    return fd;
  }
  bool WaitForEntries(size_t n) {
    return RunUntil(io, [&] { return gybl.clientTable.size() == n; });
  }

  boost::asio::io_context io;
  SystemClock clock;
  CapturingMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  RelayHandlers handlers;
  CMainFrame frame;
  std::vector<int> clients;
};

TEST_F(MainFrameTest, StartAndStopServiceLogAndTitle) {
  gybl.settings.port2 = FreeLoopbackPort();
  ASSERT_EQ(frame.StartService(), 1);
  EXPECT_EQ(gybl.serviceRunning, 1);
  EXPECT_EQ(frame.ListeningPort(1), gybl.settings.port);
  EXPECT_EQ(frame.ListeningPort(2), gybl.settings.port2);
  EXPECT_EQ(frame.windowTitle(), "QVO Server(Master) - 服务器启动 [2.00.150202] PORT[" +
                                     std::to_string(gybl.settings.port) + "] PORT[" +
                                     std::to_string(gybl.settings.port2) + "]");
  EXPECT_TRUE(monitor.Has("服务器IP   127.0.0.1"));
  EXPECT_TRUE(monitor.Has("服务器启动  PORT[" + std::to_string(gybl.settings.port) + "]  启动"));
  ASSERT_FALSE(monitor.lines.empty());
  EXPECT_EQ(monitor.lines[0].rfind("************************* FeeDisk ", 0), 0u);

  const int named = Client();
  Client();
  ASSERT_TRUE(SendAll(named, "GET /X HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.clientTable.size() == 2 && handlers.gets.size() == 1; }));
  frame.StopService();
  EXPECT_EQ(gybl.serviceRunning, 0);
  EXPECT_TRUE(gybl.clientTable.empty());
  EXPECT_EQ(frame.windowTitle(), "QVO Server(Master) - 服务关闭 [2.00.150202] ");
  EXPECT_EQ(monitor.lines.back(), "Stop");
  int closedLines = 0;
  for (const auto& l : monitor.lines) closedLines += l.find("关闭 {7}") != std::string::npos;
  EXPECT_EQ(closedLines, 1);  // only the named connection is logged
  EXPECT_EQ(ConnectLoopback(gybl.settings.port), -1);
  // Both clients see the end of their connection.
  for (int fd : clients) {
    std::string ignored;
    EXPECT_TRUE(RunUntil(io, [&] { return !ReadAvailable(fd, ignored); }));
  }
}

TEST_F(MainFrameTest, TakenPortIsReportedAndNothingRuns) {
  boost::asio::ip::tcp::acceptor blocker(io, {boost::asio::ip::address_v4::any(),
                                              static_cast<unsigned short>(gybl.settings.port)});
  EXPECT_EQ(frame.StartService(), 0);
  EXPECT_TRUE(monitor.Has("m_sockListen1 Bind Error"));
  EXPECT_EQ(gybl.serviceRunning, 0);
}

TEST_F(MainFrameTest, NoLocalAddressMeansNoListening) {
  gybl.localAddresses.clear();
  EXPECT_EQ(frame.StartService(), 0);
  EXPECT_TRUE(monitor.lines.empty());
  EXPECT_EQ(frame.ListeningPort(1), 0);
}

TEST_F(MainFrameTest, PeerCloseAndRefusalUseTheirReasons) {
  ASSERT_EQ(frame.StartService(), 1);
  const int peer = Client();
  ASSERT_TRUE(WaitForEntries(1));
  close(peer);
  clients.clear();
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_NE(monitor.lines.back().find("{5}"), std::string::npos);

  const int refused = Client();
  ASSERT_TRUE(SendAll(refused, "SOURCE pw /M\r\n\r\n"));
  ASSERT_TRUE(WaitForEntries(1));
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_NE(monitor.lines.back().find("{2}"), std::string::npos);
}

// A client that never reads costs at most the queue bound and does not hold up the others; what
// it does get are whole chunks in order.
TEST_F(MainFrameTest, SlowReaderIsBoundedAndOthersGetEveryByte) {
  constexpr size_t kBound = 32 * 1024;
  frame.SetQueueBound(kBound);
  ASSERT_EQ(frame.StartService(), 1);
  const int fast = Client();
  const int slow = Client(4096);
  const int source = Client();
  ASSERT_TRUE(SendAll(fast, "GET /A HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 1; }));
  ASSERT_TRUE(SendAll(slow, "GET /A HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 2; }));
  ASSERT_TRUE(SendAll(source, "VORAN,SRC\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.source != 0; }));
  const uint32_t slowSocket = handlers.gets[1];
  // The server's socket lives in this process: keep its kernel buffer small too.
  const int small = 4096;
  setsockopt(static_cast<int>(slowSocket), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

  // 300 chunks of 1000 bytes, each "#<seq>:" padded; the fast client must get all of them.
  std::string expected;
  std::string fastGot;
  size_t maxQueued = 0;
  int maxErrors = 0;
  for (int seq = 0; seq < 300; ++seq) {
    std::string chunk = "#" + std::to_string(seq) + ":";
    chunk.resize(1000, static_cast<char>('a' + seq % 26));
    expected += chunk;
    ASSERT_TRUE(SendAll(source, chunk));
    ASSERT_TRUE(RunUntil(io, [&] {
      ReadAvailable(fast, fastGot);
      return fastGot.size() == expected.size();
    })) << "fast client stalled at chunk " << seq;
    maxQueued = std::max(maxQueued, frame.QueuedBytes(slowSocket));
    maxErrors = std::max(maxErrors, gybl.clientTable.at(slowSocket).sendErrors);
  }
  EXPECT_EQ(fastGot, expected);
  EXPECT_GT(maxQueued, 0u);
  EXPECT_LE(maxQueued, kBound);
  ClientEntry& slowEntry = gybl.clientTable.at(slowSocket);
  EXPECT_GT(maxErrors, 5);  // a chunk the queue takes later resets the count, not the text
  EXPECT_EQ(slowEntry.statusText, "Error");
  EXPECT_EQ(slowEntry.closeReason, 0);

  // Once the slow client reads, what it received is a run of whole chunks in increasing order.
  std::string slowGot;
  ASSERT_TRUE(RunUntil(io, [&] {
    ReadAvailable(slow, slowGot);
    return frame.QueuedBytes(slowSocket) == 0 && slowGot.size() % 1000 == 0 && !slowGot.empty();
  }));
  int last = -1;
  for (size_t at = 0; at < slowGot.size(); at += 1000) {
    const std::string chunk = slowGot.substr(at, 1000);
    ASSERT_EQ(chunk[0], '#');
    const int seq = std::stoi(chunk.substr(1));
    EXPECT_GT(seq, last);
    EXPECT_EQ(chunk, expected.substr(static_cast<size_t>(seq) * 1000, 1000));
    last = seq;
  }
  // A chunk that is queued again resets the count, not the text.
  ASSERT_TRUE(SendAll(source, std::string(1000, 'z')));
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.clientTable.at(slowSocket).sendErrors == 0; }));
  EXPECT_EQ(gybl.clientTable.at(slowSocket).statusText, "Error");
}

TEST_F(MainFrameTest, InputLargerThanOneReadIsReadWithoutWaitingForMore) {
  ASSERT_EQ(frame.StartService(), 1);
  const int rover = Client();
  const int source = Client();
  ASSERT_TRUE(SendAll(rover, "GET /A HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 1; }));
  ASSERT_TRUE(SendAll(source, "VORAN,SRC\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.source != 0; }));
  // All of it waits in the socket before the loop runs: one readiness signal for several reads.
  const std::string burst(3 * kReadSize + 100, 'b');
  ASSERT_TRUE(SendAll(source, burst));
  std::string got;
  EXPECT_TRUE(RunUntil(io, [&] {
    ReadAvailable(rover, got);
    return got.size() == burst.size();
  })) << got.size() << " of " << burst.size();
}

TEST_F(MainFrameTest, HardSendErrorIsLoggedAndClosedByTheTickNotAtOnce) {
  ASSERT_EQ(frame.StartService(), 1);
  const int client = Client();
  ASSERT_TRUE(WaitForEntries(1));
  const uint32_t socket = gybl.clientTable.begin()->first;
  gybl.clientTable.at(socket).userName = "gone";
  linger reset{1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(client);
  clients.clear();
  // Send before the loop notices the reset: the send itself fails.
  const std::string bytes = "data";
  gybl.Send(socket, bytes.data(), 4);
  gybl.Send(socket, bytes.data(), 4);
  ASSERT_EQ(gybl.clientTable.count(socket), 1u);
  EXPECT_EQ(gybl.clientTable.at(socket).closeReason, 4);
  EXPECT_GE(gybl.clientTable.at(socket).sendErrors, 1);
  EXPECT_EQ(gybl.clientTable.at(socket).bytesSent, 8);
  const std::string prefix = "[" + std::to_string(socket) + " -gone] ";
  EXPECT_EQ(monitor.lines.back().rfind(prefix, 0), 0u) << monitor.lines.back();
}

}  // namespace

namespace {

int CountLines(const std::vector<std::string>& lines, const std::string& text) {
  int n = 0;
  for (const auto& l : lines) n += l == text;
  return n;
}

}  // namespace

// Over "MaxPerIP" a connection is closed on accept without an entry, logged once a minute; the
// connections within the limit go on being served, and a close makes room again.
TEST_F(MainFrameTest, ConnectionOverTheAddressLimitIsClosedAtOnceAndOthersServed) {
  gybl.settings.maxPerIp = 2;
  ASSERT_EQ(frame.StartService(), 1);
  const int rover = Client();
  const int source = Client();
  ASSERT_TRUE(WaitForEntries(2));
  const std::string refusal = "127.0.0.1 refused: more than 2 connections at once (MaxPerIP)";
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int over = Client();
    std::string got;
    EXPECT_TRUE(RunUntil(io, [&] { return !ReadAvailable(over, got); })) << attempt;
    EXPECT_EQ(got, "");
    EXPECT_EQ(gybl.clientTable.size(), 2u);
  }
  EXPECT_EQ(CountLines(monitor.lines, refusal), 1);

  ASSERT_TRUE(SendAll(rover, "GET /A HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 1; }));
  ASSERT_TRUE(SendAll(source, "VORAN,SRC\r\n"));
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.source != 0; }));
  ASSERT_TRUE(SendAll(source, "corrections"));
  std::string got;
  EXPECT_TRUE(RunUntil(io, [&] {
    ReadAvailable(rover, got);
    return got == "corrections";
  }));

  close(rover);
  ASSERT_TRUE(WaitForEntries(1));
  Client();
  EXPECT_TRUE(WaitForEntries(2));
}

// "MaxConnectsPerIP" counts new connections in a minute of the frame's clock, not open ones.
TEST_F(MainFrameTest, ConnectRateLimitFollowsTheClock) {
  auto now = AddressLimits::TimePoint{} + std::chrono::hours(1);
  frame.SetLimitClock([&now] { return now; });
  gybl.settings.maxConnectsPerIp = 2;
  ASSERT_EQ(frame.StartService(), 1);
  for (int n = 0; n < 2; ++n) {
    const int fd = Client();
    ASSERT_TRUE(WaitForEntries(1));
    close(fd);
    clients.pop_back();
    ASSERT_TRUE(WaitForEntries(0));
  }
  const int over = Client();
  std::string ignored;
  EXPECT_TRUE(RunUntil(io, [&] { return !ReadAvailable(over, ignored); }));
  EXPECT_EQ(CountLines(monitor.lines, "127.0.0.1 refused: more than 2 connections a minute (MaxConnectsPerIP)"), 1);
  now += std::chrono::seconds(60);
  Client();
  EXPECT_TRUE(WaitForEntries(1));
}

// A TLS client is a connection like any other, with its own address; when it goes away its entry
// closes as a peer close, and a service stop ends the TLS connection too.
TEST_F(MainFrameTest, TlsClientsComeAndGoThroughTheFront) {
  testsupport::TestCertificate certificate;
  if (!certificate.made()) GTEST_SKIP() << "the openssl tool could not make a certificate";
  gybl.settings.tlsPort = FreeLoopbackPort();
  gybl.settings.tlsCert = certificate.cert().string();
  gybl.settings.tlsKey = certificate.key().string();
  ASSERT_EQ(frame.StartService(), 1);
  EXPECT_EQ(frame.ListeningPort(3), gybl.settings.tlsPort);

  testsupport::TlsClient leaving(io);
  leaving.Connect(gybl.settings.tlsPort);
  ASSERT_TRUE(WaitForEntries(1));
  const ClientEntry& entry = gybl.clientTable.begin()->second;
  EXPECT_EQ(AddressText(entry.peerAddress), "127.0.0.1");
  EXPECT_TRUE(entry.peerText.empty());
  leaving.Send("GET /A HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 1; }));
  leaving.Drop();
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_NE(monitor.lines.back().find("{5}"), std::string::npos) << monitor.lines.back();

  testsupport::TlsClient staying(io);
  staying.Connect(gybl.settings.tlsPort);
  ASSERT_TRUE(WaitForEntries(1));
  frame.StopService();
  EXPECT_TRUE(RunUntil(io, [&] { return staying.ended(); }));
  EXPECT_EQ(ConnectLoopback(gybl.settings.tlsPort), -1);
}

TEST_F(MainFrameTest, UnusableCertificateIsARedLineAndPlainPortsServe) {
  gybl.programDirectory = "/nonexistent-kavro/";
  gybl.settings.tlsPort = FreeLoopbackPort();
  gybl.settings.tlsCert = "INI/caster.crt";
  gybl.settings.tlsKey = "INI/caster.key";
  ASSERT_EQ(frame.StartService(), 1);
  EXPECT_EQ(gybl.serviceRunning, 1);
  // The disk line is red too here: the folder does not exist.
  const std::string expected = "TLS: cannot use TLSCERT /nonexistent-kavro/INI/caster.crt: ";
  ASSERT_FALSE(monitor.redLines.empty());
  EXPECT_EQ(monitor.redLines.back().rfind(expected, 0), 0u) << monitor.redLines.back();
  EXPECT_EQ(frame.ListeningPort(3), 0);
  EXPECT_EQ(ConnectLoopback(gybl.settings.tlsPort), -1);
  ASSERT_TRUE(SendAll(Client(), "GET /A HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(RunUntil(io, [&] { return handlers.gets.size() == 1; }));
}

// With IPV6 an IPv6 client gets its own entry with its address as text, and the per-address limits
// count it as they count an IPv4 one.
TEST_F(MainFrameTest, Ipv6ClientsAreKeptAsTextAndLimited) {
  if (!testsupport::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no ::1";
  gybl.settings.ipv6 = 1;
  gybl.settings.maxPerIp = 1;
  ASSERT_EQ(frame.StartService(), 1);
  boost::asio::ip::tcp::socket first(io);
  boost::asio::ip::tcp::socket second(io);
  const boost::asio::ip::tcp::endpoint server(boost::asio::ip::address_v6::loopback(),
                                              static_cast<unsigned short>(gybl.settings.port));
  first.connect(server);
  ASSERT_TRUE(WaitForEntries(1));
  const ClientEntry& entry = gybl.clientTable.begin()->second;
  EXPECT_EQ(entry.peerText, "::1");
  EXPECT_EQ(PeerAddressText(entry), "::1");
  EXPECT_EQ(entry.peerAddress.sin_family, AF_INET6);
  second.connect(server);
  EXPECT_TRUE(
      RunUntil(io, [&] { return monitor.Has("::1 refused: more than 1 connections at once (MaxPerIP)"); }));
  EXPECT_EQ(gybl.clientTable.size(), 1u);
  // IPv4 keeps its own listener and its own count.
  Client();
  EXPECT_TRUE(WaitForEntries(2));
}
