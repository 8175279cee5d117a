#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <memory>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "link/KavroNetClient.h"
#include "link/LoopbackServer.h"
#include "support/Loopback.h"

namespace {

namespace asio = boost::asio;
using testsupport::LoopbackServer;
using testsupport::RunUntil;

struct Data {
  int message;
  std::string bytes;
  std::intptr_t param;
  bool operator==(const Data&) const = default;
};
struct Closed {
  std::intptr_t param;
  int32_t tag;
  bool operator==(const Closed&) const = default;
};

class RecordingFrame : public NetClientEvents {
 public:
  void OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) override {
    data.push_back(
        {message, std::string(reinterpret_cast<const char*>(block.Data()), block.Length()), param});
  }
  void OnNetClosed(std::intptr_t param, int32_t tag) override { closed.push_back({param, tag}); }
  std::vector<Data> data;
  std::vector<Closed> closed;
};

class KavroNetClientTest : public ::testing::Test {
 protected:
  // A connected client and the server's side of its connection.
  int Connect(CKavroNetClient& client) {
    int result = -1;
    client.Connect("127.0.0.1", server.port(), [&](int r) { result = r; });
    EXPECT_TRUE(RunUntil(io, [&] { return result != -1; }));
    EXPECT_EQ(result, 1);
    return server.Accept(io);
  }

  asio::io_context io;
  LoopbackServer server;
  RecordingFrame frame;
};

TEST_F(KavroNetClientTest, SendBytesDropsBlocksOf8192BytesOrMore) {
  CKavroNetClient client(io.get_executor());
  const std::string block(8192, 'b');
  client.SendText("unconnected");  // dropped without notice
  const int peer = Connect(client);
  client.SendBytes(block.data(), 8192);
  client.SendBytes(block.data(), 8191);
  client.SendText(block);
  client.SendText("END");
  std::string received;
  ASSERT_TRUE(RunUntil(io, [&] {
    testsupport::ReadAvailable(peer, received);
    return received.size() >= 8194;
  }));
  EXPECT_EQ(received, block.substr(0, 8191) + "END");
}

TEST_F(KavroNetClientTest, NotificationsCarryTheRoversParameterOrTheLinksTag) {
  CKavroNetClient rover(io.get_executor());
  CKavroNetClient link(io.get_executor());
  const int roverPeer = Connect(rover);
  rover.SetNotify(&frame, kMsgRoverData, 17);
  const int linkPeer = Connect(link);
  link.SetNotify(&frame, kMsgLinkData, 0);
  link.tag = 5;

  ASSERT_TRUE(testsupport::SendAll(roverPeer, "RTCM"));
  ASSERT_TRUE(RunUntil(io, [&] { return frame.data.size() == 1; }));
  ASSERT_TRUE(testsupport::SendAll(linkPeer, "VORAN,BASE"));
  ASSERT_TRUE(RunUntil(io, [&] { return frame.data.size() == 2; }));
  EXPECT_EQ(frame.data, (std::vector<Data>{{3028, "RTCM", 17}, {3029, "VORAN,BASE", 5}}));

  server.Drop(roverPeer);
  ASSERT_TRUE(RunUntil(io, [&] { return frame.closed.size() == 1; }));
  server.Drop(linkPeer);
  ASSERT_TRUE(RunUntil(io, [&] { return frame.closed.size() == 2; }));
  EXPECT_EQ(frame.closed, (std::vector<Closed>{{17, -1}, {0, 5}}));
}

TEST_F(KavroNetClientTest, DestructionClosesWithoutNotifying) {
  auto client = std::make_unique<CKavroNetClient>(io.get_executor());
  const int peer = Connect(*client);
  client->SetNotify(&frame, kMsgRoverData, 9);
  client.reset();
  std::string seen;
  EXPECT_TRUE(testsupport::RunUntilPeerClosed(io, peer, seen));
  EXPECT_TRUE(frame.closed.empty());
}

class QuietMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord&) override {}
};

// The caster side: an entry that owns a rover's upstream connection, and a frame that closes the rover
// when that connection ends, as the main frame does.
class EntryCloseTest : public KavroNetClientTest, public NetClientEvents {
 protected:
  EntryCloseTest() : clock({2015, 2, 1, 2, 8, 30, 0, 0}), gybl(Settings{}, clock, monitor, steps) {}

  void OnNetData(int, const NDKSCOCK::CNDKMessage&, std::intptr_t) override {}
  void OnNetClosed(std::intptr_t param, int32_t) override {
    ++closedNotices;
    if (ClientEntry* entry = FindClient(gybl.clientTable, static_cast<uint32_t>(param))) {
      entry->closeReason = static_cast<int>(CloseReason::kLinkRequest);
      gybl.Close(entry->socket, CloseReason::kPeerClosed);
    }
  }

  // A rover entry on socket 12 whose netClient is connected upstream; returns the upstream peer.
  int AddForwardedRover() {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    inet_pton(AF_INET, "10.0.0.7", &peer.sin_addr);
    EXPECT_EQ(gybl.Accept(12, peer), 1);
    ClientEntry& entry = gybl.clientTable.at(12);
    entry.netClient = std::make_shared<CKavroNetClient>(io.get_executor());
    const int upstream = Connect(*entry.netClient);
    entry.netClient->SetNotify(this, kMsgRoverData, 12);
    return upstream;
  }

  ManualClock clock;
  QuietMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  int closedNotices = 0;
};

TEST_F(EntryCloseTest, UpstreamEndClosesTheRoverAndItsClient) {
  const int upstream = AddForwardedRover();
  server.Drop(upstream);
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.clientTable.empty(); }));
  io.restart();
  io.poll();
  EXPECT_EQ(closedNotices, 1);
}

TEST_F(EntryCloseTest, ClosingTheRoverEndsItsUpstreamConnectionQuietly) {
  const int upstream = AddForwardedRover();
  EXPECT_EQ(gybl.Close(12, CloseReason::kPeerClosed), 1);
  std::string seen;
  EXPECT_TRUE(testsupport::RunUntilPeerClosed(io, upstream, seen));
  EXPECT_EQ(closedNotices, 0);

  const int again = AddForwardedRover();
  gybl.CloseAll();
  EXPECT_TRUE(testsupport::RunUntilPeerClosed(io, again, seen));
  EXPECT_EQ(closedNotices, 0);
}

}  // namespace
