// Receivers speaking the "VORAN," line protocol against the real caster binary over loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/CasterProcess.h"
#include "support/NtripClient.h"

namespace {

using namespace testsupport;
using namespace std::string_literals;
namespace fs = std::filesystem;

// "SET" with the built-in flags plus positionManagement (digit 19).
constexpr const char* kPositionManagement = "SET=11000000001000000010\n";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Sends one line and reads until the reply ends with `reply`; returns what was read.
std::string Exchange(int fd, const std::string& line, const std::string& reply) {
  SendAll(fd, line);
  std::string got;
  ReadUntil(fd, got, [&](const std::string& r) { return EndsWith(r, reply); });
  return got;
}

// A connection logged in with a device login; -1 when the caster did not answer "VORAN,SET,OK".
int DeviceLogin(int port, const std::string& line) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return -1;
  if (Exchange(fd, line, "\r\n") != "VORAN,SET,OK\r\n") {
    close(fd);
    return -1;
  }
  return fd;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(DeviceBinaryTest, DeviceBaseStreamReachesALinkedDeviceRover) {
  const fs::path recording = fs::path(KAVRO_SHARED_DATA) / "rtcm3/ntripstreams/AgPartner_2.rtcm3";
  if (!fs::exists(recording)) GTEST_SKIP() << "recorded streams not found at " << recording;
  const std::string stream = ReadFile(recording);
  ASSERT_FALSE(stream.empty());

  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const int base = DeviceLogin(caster.port(), "VORAN,BASE,AGP2,Receiver X,Station AGP2,1\r\n");
  ASSERT_GE(base, 0);
  SendAll(base, "VORAN,INTERFACEMODE,MSM\r\n");
  const int rover = DeviceLogin(caster.port(), "VORAN,ROVE,rov1,Receiver Y,-,1\r\n");
  ASSERT_GE(rover, 0);

  EXPECT_EQ(Exchange(rover, "VORAN,GETBASE\r\n", "\r\n"), "VORAN,LIST,AGP2        [  0.0000   0.0000],\r\n");
  EXPECT_EQ(Exchange(rover, "VORAN,GETALL\r\n", "\r\n"),
            "VORAN,LIST,AGP2        [  0.0000   0.0000](BASE),\r\n");
  EXPECT_EQ(Exchange(rover, "VORAN,LINKBASE,NOPE,rov1:pw\r\n", "\r\n"), "VORAN,BASE,FAIL\r\n");
  EXPECT_EQ(Exchange(rover, "VORAN,LINKBASE,AGP2,rov1:pw\r\n", "\r\n"), "VORAN,BASE,OK\r\n");

  // The stream in pieces of varied size, read by the rover as it goes. A device line after it
  // shows that commands are still read between the stream bytes.
  std::string received;
  for (size_t at = 0, piece = 0; at < stream.size(); ++piece) {
    const size_t size = 500 + (piece * 173) % 1500;
    ASSERT_TRUE(SendAll(base, stream.substr(at, size)));
    at += size;
    ReadAvailable(rover, received);
  }
  EXPECT_EQ(Exchange(base, "VORAN,GETVERSION\r\n", "\r\n").rfind("2.00.", 0), 0u);
  ReadUntil(rover, received, [&](const std::string& r) { return r.size() >= stream.size(); });
  EXPECT_EQ(received.size(), stream.size());
  EXPECT_TRUE(received == stream) << "stream bytes differ";

  // A second base of the same name and parameter is refused and closed.
  const int twin = ConnectLoopback(caster.port());
  SendAll(twin, "VORAN,BASE,AGP2,Receiver Z,-,1\r\n");
  EXPECT_EQ(ReadToClose(twin), "VORAN,REP_USER,OK\r\n");
  close(twin);

  // ECHO: what the connection sends after it comes back.
  const std::string bytes = "\xd3\x00\x01\x02 echo me \xff\r\n"s;
  EXPECT_EQ(Exchange(rover, "VORAN,ECHO\r\n" + bytes, bytes), bytes);
  SendAll(rover, "VORAN,CLOSE\r\n");
  EXPECT_EQ(ReadToClose(rover), "");
  close(rover);
  close(base);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(DeviceBinaryTest, GgaMonitorReceivesTheRoversGga) {
  CasterProcess caster(kPositionManagement);
  ASSERT_TRUE(caster.Start());
  const int monitor = DeviceLogin(caster.port(), "VORAN,GETGGA,mon1,Monitor,-,0\r\n");
  ASSERT_GE(monitor, 0);
  const int base = DeviceLogin(caster.port(), "VORAN,BASE,STA1,Receiver X,-,1\r\n");
  ASSERT_GE(base, 0);
  const int rover = DeviceLogin(caster.port(), "VORAN,ROVE,rov1,Receiver Y,-,1\r\n");
  ASSERT_GE(rover, 0);
  EXPECT_EQ(Exchange(rover, "VORAN,LINKBASE,STA1,rov1:pw\r\n", "\r\n"), "VORAN,BASE,OK\r\n");

  const std::string gga = "$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76\r\n";
  SendAll(rover, gga);
  std::string got;
  ReadUntil(monitor, got, [](const std::string& r) { return EndsWith(r, "\r\n"); });
  EXPECT_EQ(got, "rov1," + gga);
  // The GETALL list of any client leaves the monitor out.
  EXPECT_EQ(Exchange(rover, "VORAN,GETALL\r\n", "\r\n"),
            "VORAN,LIST,STA1        [  0.0000   0.0000](BASE),\r\n");
  close(rover);
  close(base);
  close(monitor);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
