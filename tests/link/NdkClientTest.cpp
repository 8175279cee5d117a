#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/LoopbackServer.h"
#include "link/NdkClient.h"
#include "support/Loopback.h"

namespace {

namespace asio = boost::asio;
using namespace NDKSCOCK;
using testsupport::LoopbackServer;
using testsupport::ReadAvailable;
using testsupport::RunUntil;

// What a client reported, kept outside the client so that it survives the client's destruction.
struct Reports {
  std::vector<std::string> messages;
  std::vector<int> closes;
  std::vector<std::string> order;  // "data" and "close", in the order they came
  std::function<void()> onClosed;
};

class RecordingClient : public CNDKClient {
 public:
  RecordingClient(asio::any_io_executor executor, Reports& reports)
      : CNDKClient(std::move(executor)), reports_(reports) {}

 protected:
  void MessageReceived(const CNDKMessage& message) override {
    reports_.messages.emplace_back(reinterpret_cast<const char*>(message.Data()), message.Length());
    reports_.order.push_back("data");
  }
  void ConnectionClosed(DisconnectReason reason) override {
    reports_.closes.push_back(reason);
    reports_.order.push_back("close");
    if (reports_.onClosed) reports_.onClosed();
  }

 private:
  Reports& reports_;
};

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed + i * 31 + i / 251) & 0xFF);
  return s;
}

class NdkClientTest : public ::testing::Test {
 protected:
  // Connects and runs until the result is in.
  int ConnectNow(CNDKClient& client, const std::string& address, int port) {
    int result = -1;
    client.Connect(address, port, [&](int r) { result = r; });
    RunUntil(io, [&] { return result != -1; });
    return result;
  }
  // Runs the handlers that are ready now, without waiting for any.
  void RunReady() {
    io.restart();
    io.poll();
  }

  asio::io_context io;
  Reports reports;
  RecordingClient client{io.get_executor(), reports};
};

TEST(CNDKMessageTest, SetBytesTakesAtMost8096Bytes) {
  CNDKMessage message;
  message.SetBytes("VORAN", 5);
  const std::string big = Pattern(8097, 3);
  message.SetBytes(big.data(), 8097);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(message.Data()), message.Length()), "VORAN");
  message.SetBytes(big.data(), -1);
  EXPECT_EQ(message.Length(), 5);
  message.SetBytes(big.data(), 8096);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(message.Data()), message.Length()),
            big.substr(0, 8096));
}

TEST_F(NdkClientTest, ConnectTakesOnlyNumericAddresses) {
  LoopbackServer server;
  int result = -1;
  client.Connect("localhost", server.port(), [&](int r) { result = r; });
  RunReady();  // a name look-up would need a resolver and could not be answered this soon
  EXPECT_EQ(result, 0);
  EXPECT_EQ(server.TryAccept(), -1);
  EXPECT_EQ(ConnectNow(client, "", server.port()), 0);
  EXPECT_EQ(ConnectNow(client, "127.0.0.1", 70000), 0);
  EXPECT_EQ(client.IsConnected(), 0);

  EXPECT_EQ(ConnectNow(client, "127.0.0.1", server.port()), 1);
  EXPECT_EQ(client.IsConnected(), 1);
  EXPECT_GE(server.Accept(io), 0);
  EXPECT_TRUE(reports.closes.empty());  // failed connects report nothing
}

TEST_F(NdkClientTest, ConnectToAClosedPortReportsZero) {
  LoopbackServer closedPort(false);
  EXPECT_EQ(ConnectNow(client, "127.0.0.1", closedPort.port()), 0);
  EXPECT_EQ(client.IsConnected(), 0);
  EXPECT_EQ(client.Send(CNDKMessage{}), 0);
  EXPECT_TRUE(reports.closes.empty());
}

TEST_F(NdkClientTest, ConnectOnAConnectedClientFirstClosesTheOldConnection) {
  LoopbackServer first, second;
  ASSERT_EQ(ConnectNow(client, "127.0.0.1", first.port()), 1);
  const int oldPeer = first.Accept(io);
  ASSERT_GE(oldPeer, 0);

  int result = -1;
  client.Connect("127.0.0.1", second.port(), [&](int r) { result = r; });
  EXPECT_EQ(reports.closes, std::vector<int>{ClosedByOwner});  // before Connect returned
  EXPECT_EQ(client.IsConnected(), 0);
  ASSERT_TRUE(RunUntil(io, [&] { return result != -1; }));
  EXPECT_EQ(result, 1);
  EXPECT_GE(second.Accept(io), 0);
  std::string seen;
  EXPECT_TRUE(testsupport::RunUntilPeerClosed(io, oldPeer, seen));
  EXPECT_EQ(reports.closes.size(), 1u);
}

TEST_F(NdkClientTest, ConnectOrCloseEndsAPendingAttemptWithZero) {
  LoopbackServer server;
  int first = -1, second = -1;
  client.Connect("127.0.0.1", server.port(), [&](int r) { first = r; });
  client.Close();
  client.Connect("127.0.0.1", server.port(), [&](int r) { second = r; });
  ASSERT_TRUE(RunUntil(io, [&] { return first != -1 && second != -1; }));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(reports.closes.empty());
}

TEST_F(NdkClientTest, PeerDataThenCloseGivesMessagesThenOneClosedByPeer) {
  LoopbackServer server;
  ASSERT_EQ(ConnectNow(client, "127.0.0.1", server.port()), 1);
  const int peer = server.Accept(io);
  const std::string sent = Pattern(100000, 7);
  ASSERT_TRUE(testsupport::SendAll(peer, sent));
  server.Drop(peer);
  ASSERT_TRUE(RunUntil(io, [&] { return !reports.closes.empty(); }));
  RunReady();

  std::string received;
  for (const std::string& m : reports.messages) {
    EXPECT_GT(m.size(), 0u);
    EXPECT_LE(m.size(), 8096u);
    received += m;
  }
  EXPECT_EQ(received, sent);
  EXPECT_EQ(reports.closes, std::vector<int>{ClosedByPeer});
  EXPECT_EQ(reports.order.back(), "close");
  EXPECT_EQ(client.IsConnected(), 0);
  client.Close();  // nothing left to close: no second report
  EXPECT_EQ(reports.closes.size(), 1u);
}

TEST_F(NdkClientTest, ResetByThePeerClosesWithReceiveFailed) {
  LoopbackServer server;
  ASSERT_EQ(ConnectNow(client, "127.0.0.1", server.port()), 1);
  server.Drop(server.Accept(io), true);
  ASSERT_TRUE(RunUntil(io, [&] { return !reports.closes.empty(); }));
  EXPECT_EQ(reports.closes, std::vector<int>{ReceiveFailed});
}

// A connection to a peer that reads only when told, with a small write queue, so that sends can be
// made to fail (queue full) or succeed (queue drained) at will.
class SendFailureTest : public NdkClientTest {
 protected:
  static constexpr int kBlock = 8000;

  void SetUp() override {
    client.SetQueueBound(2 * kBlock);
    ASSERT_EQ(ConnectNow(client, "127.0.0.1", server.port()), 1);
    peer = server.Accept(io);
    ASSERT_GE(peer, 0);
  }
  int SendNext() {
    CNDKMessage message;
    const std::string bytes(kBlock, static_cast<char>('A' + next % 26));
    message.SetBytes(bytes.data(), kBlock);
    const int result = client.Send(message);
    if (result == 1) expected += bytes;
    ++next;
    return result;
  }
  // Sends until one send fails; every send before it succeeded.
  void Fail() {
    for (int i = 0; i < 100000; ++i) {
      if (SendNext() == 0) return;
    }
    FAIL() << "no send failed";
  }
  void FailAgain() { ASSERT_EQ(SendNext(), 0); }
  // The peer reads everything, the queue drains, and the next send succeeds.
  void Succeed() {
    ASSERT_TRUE(RunUntil(io, [&] {
      ReadAvailable(peer, received);
      return client.QueuedBytes() == 0;
    }));
    ASSERT_EQ(SendNext(), 1);
  }

  LoopbackServer server{true, 4096};
  int peer = -1;
  int next = 0;
  std::string expected;  // the blocks that were accepted, in order
  std::string received;
};

TEST_F(SendFailureTest, TwoFailuresAndASuccessInAnyOrderNeverClose) {
  Fail();
  FailAgain();
  Succeed();
  Fail();
  Succeed();
  Fail();
  FailAgain();
  Succeed();
  EXPECT_TRUE(reports.closes.empty());
  EXPECT_EQ(client.IsConnected(), 1);

  // Every accepted block arrives whole and in order; the dropped ones are missing whole.
  ASSERT_TRUE(RunUntil(io, [&] {
    ReadAvailable(peer, received);
    return received.size() >= expected.size();
  }));
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST_F(SendFailureTest, ThreeFailuresInARowCloseWithSendFailed) {
  Fail();
  FailAgain();
  EXPECT_TRUE(reports.closes.empty());
  FailAgain();
  EXPECT_EQ(reports.closes, std::vector<int>{SendFailed});
  EXPECT_EQ(client.IsConnected(), 0);
  EXPECT_EQ(SendNext(), 0);  // unconnected: no further close
  EXPECT_EQ(reports.closes.size(), 1u);
}

TEST_F(SendFailureTest, ANewConnectionStartsWithoutFailures) {
  Fail();
  FailAgain();
  ASSERT_EQ(ConnectNow(client, "127.0.0.1", server.port()), 1);
  EXPECT_EQ(reports.closes, std::vector<int>{ClosedByOwner});
  // The new peer resets at once, so the first send on the new connection fails with a hard error.
  server.Drop(server.Accept(io), true);
  EXPECT_EQ(SendNext(), 0);
  EXPECT_EQ(reports.closes.size(), 1u);
  EXPECT_EQ(client.IsConnected(), 1);
}

// Every way a connection ends, with the owner destroying the client inside ConnectionClosed; run under
// AddressSanitizer this catches any touch of the client after the report.
TEST(NdkClientDestroyTest, DestroyingTheClientInsideConnectionClosedIsSafe) {
  enum Trigger { kPeerClose, kPeerReset, kSendFailures, kClose, kConnectAgain };
  for (Trigger trigger : {kPeerClose, kPeerReset, kSendFailures, kClose, kConnectAgain}) {
    SCOPED_TRACE(trigger);
    asio::io_context io;
    LoopbackServer server(true, 4096);
    Reports reports;
    auto client = std::make_unique<RecordingClient>(io.get_executor(), reports);
    reports.onClosed = [&] { client.reset(); };
    client->SetQueueBound(8000);

    int result = -1;
    client->Connect("127.0.0.1", server.port(), [&](int r) { result = r; });
    ASSERT_TRUE(RunUntil(io, [&] { return result != -1; }));
    ASSERT_EQ(result, 1);
    const int peer = server.Accept(io);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(testsupport::SendAll(peer, "data before the end"));
    ASSERT_TRUE(RunUntil(io, [&] { return !reports.messages.empty(); }));

    int reconnect = -1;
    switch (trigger) {
      case kPeerClose:
        server.Drop(peer);
        break;
      case kPeerReset:
        server.Drop(peer, true);
        break;
      case kSendFailures: {
        CNDKMessage message;
        const std::string block(8000, 'x');
        message.SetBytes(block.data(), 8000);
        for (int i = 0; i < 100000 && client; ++i) client->Send(message);
        break;
      }
      case kClose:
        client->Close();
        break;
      case kConnectAgain:
        client->Connect("127.0.0.1", server.port(), [&](int r) { reconnect = r; });
        break;
    }
    ASSERT_TRUE(RunUntil(io, [&] { return client == nullptr; }));
    io.restart();
    io.poll();  // handlers still in flight find the client gone
    EXPECT_EQ(reports.closes.size(), 1u);
    EXPECT_EQ(reconnect, -1);  // a destroyed client reports no result
  }
}

// A link connection may run on a thread of its own: connect results and notifications arrive on the
// thread that runs the client's io_context.
TEST(NdkClientThreadTest, NotifiesOnTheThreadOfItsExecutor) {
  LoopbackServer server;
  asio::io_context linkIo;
  Reports reports;
  std::vector<std::thread::id> seenOn;
  std::unique_ptr<RecordingClient> client;
  // Destroying the client leaves linkIo without work, so the link thread ends.
  reports.onClosed = [&] {
    seenOn.push_back(std::this_thread::get_id());
    client.reset();
  };
  asio::post(linkIo, [&] {
    client = std::make_unique<RecordingClient>(linkIo.get_executor(), reports);
    client->Connect("127.0.0.1", server.port(), [&](int r) {
      seenOn.push_back(std::this_thread::get_id());
      if (r != 1) client.reset();
    });
  });
  std::thread linkThread([&] { linkIo.run(); });

  const int peer = server.AcceptWithin(std::chrono::seconds(10));
  EXPECT_GE(peer, 0);
  if (peer >= 0) {
    EXPECT_TRUE(testsupport::SendAll(peer, "RANGE"));
    server.Drop(peer);
  }
  const std::thread::id linkId = linkThread.get_id();
  linkThread.join();

  EXPECT_EQ(seenOn, (std::vector<std::thread::id>{linkId, linkId}));
  std::string received;
  for (const std::string& m : reports.messages) received += m;
  EXPECT_EQ(received, "RANGE");
  EXPECT_EQ(reports.closes, std::vector<int>{ClosedByPeer});
}

}  // namespace
