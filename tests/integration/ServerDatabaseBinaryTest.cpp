// The caster with its server database behind a proxy that freezes and drops it, under a relay with
// rovers sending GGA: no rover's stream pauses, a login during the freeze is answered after the
// time-out, positions queued meanwhile reach the server, and SIGTERM ends promptly.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/ntrip/Base64.h"
#include "db/DbTestSupport.h"
#include "support/CasterProcess.h"
#include "support/Nmea.h"
#include "support/NtripClient.h"
#include "support/TcpProxy.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Credentials(const std::string& user) { return EncodeBase64(user + ":pw"); }

// Rovers on one base, paced in real time: the base sends a chunk every 20 ms, each rover a GGA every
// 100 ms; every rover's longest pause between two receipts is kept.
struct Relay {
  int source = -1;
  std::vector<int> rovers;
  std::vector<Clock::time_point> lastReceipt;
  milliseconds longestGap{0};
  int ggaSent = 0;
  Clock::time_point nextChunk = Clock::now(), nextGga = Clock::now();

  // Runs for a while; watch (may be empty) is a further socket whose reply is read into `reply`.
  void Run(milliseconds duration, int watch = -1, std::string* reply = nullptr,
           Clock::time_point* answered = nullptr) {
    const Clock::time_point end = Clock::now() + duration;
    const std::string chunk(64, 'x');
    char block[65536];
    while (Clock::now() < end) {
      const Clock::time_point now = Clock::now();
      if (now >= nextChunk) {
        SendAll(source, chunk);
        nextChunk += milliseconds(20);
      }
      if (now >= nextGga) {
        for (int fd : rovers) SendAll(fd, GgaAt(43.6, 7.0) + "\r\n");
        ggaSent += static_cast<int>(rovers.size());
        nextGga += milliseconds(100);
      }
      std::vector<pollfd> fds;
      for (int fd : rovers) fds.push_back({fd, POLLIN, 0});
      if (watch >= 0) fds.push_back({watch, POLLIN, 0});
      poll(fds.data(), fds.size(), 5);
      for (size_t i = 0; i < rovers.size(); ++i) {
        if (!(fds[i].revents & POLLIN) || recv(rovers[i], block, sizeof block, MSG_DONTWAIT) <= 0) continue;
        const Clock::time_point at = Clock::now();
        longestGap = std::max(longestGap, std::chrono::duration_cast<milliseconds>(at - lastReceipt[i]));
        lastReceipt[i] = at;
      }
      if (watch >= 0 && (fds.back().revents & POLLIN) && ReadAvailable(watch, *reply) &&
          *answered == Clock::time_point{} && HasHeaderEnd(*reply)) {
        *answered = Clock::now();
      }
    }
  }
};

TEST(ServerDatabaseBinaryTest, FrozenOrLostServerNeverStallsTheRelay) {
  SKIP_WITHOUT_POSTGRES();
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(scratch.created());
  TcpProxy proxy(scratch.server().port);
  CasterProcess caster("[SQL]\nUseSQL=1\nIP=127.0.0.1\nPORT=" + std::to_string(proxy.port()) +
                       "\nUser=" + scratch.server().user + "\nPassword=\nDBname=" + scratch.name() +
                       "\nTimeout=1\n");
  ASSERT_TRUE(caster.Start());
  ASSERT_TRUE(caster.WaitForLine([](const std::string& l) { return l.find("OpenDBSQL") != std::string::npos; }));

  Relay relay;
  relay.source = ConnectLoopback(caster.port());
  SendAll(relay.source, "SOURCE pw /FRZ\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string reply;
  ASSERT_TRUE(ReadUntil(relay.source, reply, [](const std::string& r) { return r.size() >= 14; }));
  ASSERT_EQ(reply, "ICY 200 OK\r\n\r\n");
  for (int i = 0; i < 4; ++i) {
    const int fd = ConnectLoopback(caster.port());
    SendAll(fd, GetRequest("/FRZ", Credentials("rover" + std::to_string(i))));
    std::string header;
    ASSERT_TRUE(ReadUntil(fd, header, HasHeaderEnd));
    ASSERT_EQ(header.rfind("ICY 200 OK", 0), 0u) << header;
    relay.rovers.push_back(fd);
  }
  relay.lastReceipt.assign(relay.rovers.size(), Clock::now());
  relay.Run(milliseconds(300));
  relay.longestGap = milliseconds(0);

  // Frozen: a login waits for its time-out (1 s), then is answered as a failed query is: accepted
  // under the default flags.
  proxy.Set(TcpProxy::Mode::kFrozen);
  const int late = ConnectLoopback(caster.port());
  const Clock::time_point asked = Clock::now();
  SendAll(late, GetRequest("/FRZ", Credentials("late")));
  std::string lateReply;
  Clock::time_point answered{};
  relay.Run(milliseconds(2000), late, &lateReply, &answered);
  ASSERT_NE(answered, Clock::time_point{}) << "no answer during the freeze";
  const auto wait = std::chrono::duration_cast<milliseconds>(answered - asked);
  EXPECT_GE(wait.count(), 900);
  EXPECT_LE(wait.count(), 1900);
  EXPECT_EQ(lateReply.rfind("ICY 200 OK", 0), 0u) << lateReply;
  proxy.Set(TcpProxy::Mode::kPass);
  relay.Run(milliseconds(300));

  // Down: a login fails fast (the connection is refused), the relay goes on.
  proxy.Set(TcpProxy::Mode::kDown);
  const int lost = ConnectLoopback(caster.port());
  const Clock::time_point askedLost = Clock::now();
  SendAll(lost, GetRequest("/FRZ", Credentials("lost")));
  std::string lostReply;
  Clock::time_point answeredLost{};
  relay.Run(milliseconds(1000), lost, &lostReply, &answeredLost);
  ASSERT_NE(answeredLost, Clock::time_point{});
  EXPECT_LE(std::chrono::duration_cast<milliseconds>(answeredLost - askedLost).count(), 1100);
  proxy.Set(TcpProxy::Mode::kPass);
  relay.Run(milliseconds(300));
  EXPECT_LT(relay.longestGap.count(), 200) << "a rover's stream paused";

  // SIGTERM writes what is queued, the positions of the freeze and of the cut among them.
  const Clock::time_point stopAt = Clock::now();
  EXPECT_EQ(caster.Stop(), 0);
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - stopAt).count(), 10000);
  Ado_Com db;
  ASSERT_EQ(db.Open(scratch.ConnectionString(), scratch.server().user, ""), 1);
  const int stored = db.SelectValue("SELECT count(*) FROM SER_Position");
  EXPECT_GE(stored, relay.ggaSent * 95 / 100) << "of " << relay.ggaSent;
  for (int fd : relay.rovers) close(fd);
  for (int fd : {relay.source, late, lost}) close(fd);
}

}  // namespace
