// A rover that asked for a format follows its nearest base, against the real caster binary with two
// recorded RTCM 3 base streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/ntrip/Base64.h"
#include "gnss/Crc24q.h"
#include "support/CasterProcess.h"
#include "support/Nmea.h"
#include "support/NtripClient.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr size_t kSlice = 300;
constexpr auto kPoll = std::chrono::milliseconds(200);

// A recorded stream from its first RTCM 3 frame on, and the end of its first station message.
struct Recording {
  std::string bytes;
  size_t stationEnd = 0;
};

Recording LoadRecording(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* data = reinterpret_cast<const uint8_t*>(all.data());
  Recording recording;
  size_t first = std::string::npos;
  for (size_t i = 0; i + 6 <= all.size();) {
    const size_t length = ((data[i + 1] & 0x03u) << 8) | data[i + 2];
    const size_t end = i + 3 + length + 3;
    const bool frame = data[i] == 0xD3 && (data[i + 1] & 0xFC) == 0 && end <= all.size() &&
                       Crc24q(data + i, 3 + length) ==
                           ((uint32_t{data[end - 3]} << 16) | (uint32_t{data[end - 2]} << 8) | data[end - 1]);
    if (!frame) {
      ++i;
      continue;
    }
    if (first == std::string::npos) first = i;
    const int message = (data[i + 3] << 4) | (data[i + 4] >> 4);
    if (message == 1005 || message == 1006) {
      recording.bytes = all.substr(first);
      recording.stationEnd = end - first;
      return recording;
    }
    i = end;
  }
  return recording;
}

// A logged-in source; -1 when refused.
int StartSource(int port, const std::string& mountpoint) {
  const int fd = ConnectLoopback(port);
  SendAll(fd, "SOURCE pw /" + mountpoint + "\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string reply;
  ReadUntil(fd, reply, [](const std::string& r) { return r.size() >= 14; });
  return reply == "ICY 200 OK\r\n\r\n" ? fd : -1;
}

// A rover logged in on a mountpoint; -1 when not served.
int StartRover(int port, const std::string& path, const std::string& user) {
  const int fd = ConnectLoopback(port);
  SendAll(fd, GetRequest(path, EncodeBase64(user + ":pw")));
  std::string reply;
  ReadUntil(fd, reply, HasHeaderEnd);
  return reply.rfind("ICY 200 OK\r\n", 0) == 0 && reply.size() == reply.find("\r\n\r\n") + 4 ? fd : -1;
}

// One base: its recording, its source connection and how much of the recording it has sent.
struct Base {
  Recording recording;
  int fd = -1;
  size_t sent = 0;
  bool SendUpTo(size_t end) {
    end = std::min(end, recording.bytes.size());
    const bool ok = end > sent && SendAll(fd, recording.bytes.substr(sent, end - sent));
    sent = end;
    return ok;
  }
  bool SendSlice() { return SendUpTo(sent + kSlice); }
};

TEST(NearestBaseBinaryTest, RoverOnAFormatFollowsTheNearestBaseAndGetsItsBytesUnchanged) {
  const fs::path data = KAVRO_SHARED_DATA;
  if (!fs::exists(data / "rtcm3/gpsd/rtcm3-2.log")) GTEST_SKIP() << "no recorded streams at " << data;
  Base grasse{LoadRecording(data / "rtcm3/gpsd/rtcm3-2.log")};      // 43.75470 N, 6.92056 E
  Base washington{LoadRecording(data / "rtcm3/gpsd/rtcm3-3.log")};  // 38.91896 N, 77.06622 W
  ASSERT_GT(grasse.recording.stationEnd, 0u);
  ASSERT_GT(washington.recording.stationEnd, 0u);

  CasterProcess caster("SET=10000000010000000000\n");  // movingBase on
  ASSERT_TRUE(caster.Start());
  // The base the rover meets first logs in last: a tie on equal distances would not pick it.
  washington.fd = StartSource(caster.port(), "USNO0");
  grasse.fd = StartSource(caster.port(), "GRAS0");
  ASSERT_GE(grasse.fd, 0);
  ASSERT_GE(washington.fd, 0);

  // The chunk in which a base's format is found is decoded with the base's next chunk. A rover on
  // the base by name that has received a later send than the one holding the first station message
  // shows that the caster has decoded the base's position.
  for (Base* base : {&grasse, &washington}) {
    const int probe = StartRover(caster.port(), base == &grasse ? "/GRAS0" : "/USNO0", "probe");
    ASSERT_GE(probe, 0);
    std::string got;
    for (size_t end : {base->recording.stationEnd, base->recording.stationEnd + kSlice}) {
      ASSERT_TRUE(base->SendUpTo(end));
      ASSERT_TRUE(ReadUntil(probe, got, [&](const std::string& r) { return r.size() >= base->sent; }));
    }
    EXPECT_EQ(got, base->recording.bytes.substr(0, base->sent));
    close(probe);
  }

  const int rover = StartRover(caster.port(), "/[RTCM30]", "rover1");
  ASSERT_GE(rover, 0);

  // Near the first base: the rover is attached to it and receives its bytes from some chunk on.
  ASSERT_TRUE(SendAll(rover, GgaAt(43.7547, 6.9205, 1320.0)));
  std::string first;
  while (first.empty()) {
    ASSERT_TRUE(grasse.SendSlice()) << "the rover received nothing";
    ASSERT_TRUE(washington.SendSlice());
    ReadUntil(
        rover, first, [](const std::string& r) { return !r.empty(); }, kPoll);
  }
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(grasse.SendSlice() && washington.SendSlice());
  const std::string& a = grasse.recording.bytes;
  const size_t from = a.find(first.substr(0, std::min<size_t>(first.size(), 64)));
  ASSERT_NE(from, std::string::npos) << "the first bytes are not the first base's";
  ASSERT_TRUE(ReadUntil(rover, first, [&](const std::string& r) { return r.size() >= grasse.sent - from; }));
  EXPECT_TRUE(first == a.substr(from, grasse.sent - from)) << "the first base's bytes differ";

  // Near the second base: the rover moves over; after the first base's last chunks it receives only
  // the second base's bytes.
  ASSERT_TRUE(SendAll(rover, GgaAt(38.9190, -77.0662, 48.0)));
  const size_t aFrom = grasse.sent;
  std::string second;
  const auto onlyFirstBase = [&] { return a.compare(aFrom, second.size(), second) == 0; };
  while (onlyFirstBase()) {
    ASSERT_TRUE(grasse.SendSlice()) << "the rover never moved";
    ASSERT_TRUE(washington.SendSlice());
    ReadUntil(
        rover, second, [&](const std::string& r) { return r.size() > second.size(); }, kPoll);
  }
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(washington.SendSlice());
  const std::string& b = washington.recording.bytes;
  const size_t bEnd = washington.sent;
  const std::string tail = b.substr(bEnd - 32, 32);
  ASSERT_TRUE(ReadUntil(rover, second, [&](const std::string& r) {
    return r.size() >= 32 && r.compare(r.size() - 32, 32, tail) == 0;
  }));
  // second = a[aFrom, aFrom + j) + b[bEnd - (size - j), bEnd) for some j.
  bool split = false;
  for (size_t j = 0; j < second.size() && !split; ++j) {
    const size_t fromB = second.size() - j;
    split = a.compare(aFrom, j, second, 0, j) == 0 && fromB <= bEnd &&
            b.compare(bEnd - fromB, fromB, second, j, fromB) == 0;
  }
  EXPECT_TRUE(split) << "the rover's bytes are not the first base's followed by the second base's";

  close(rover);
  close(grasse.fd);
  close(washington.fd);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
