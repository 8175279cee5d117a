// The caster linked to the network server stand-in: upstream mountpoints in the sourcetable and
// reserved, rovers served through the covering server (GETMODE with their work area, the stream byte
// for byte), outside every coverage, outside their work area, and the end of the server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/ntrip/Base64.h"
#include "db/AdoSqlite.h"
#include "support/CasterProcess.h"
#include "support/NetServerProcess.h"
#include "support/Nmea.h"
#include "support/NtripClient.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// A rover on an upstream mountpoint that sends one GGA with its request; the reply header is checked.
int Rover(int port, const std::string& user, double latitude, double longitude) {
  const int fd = ConnectLoopback(port);
  SendAll(fd, GetRequest("/RTK1", EncodeBase64(user + ":pw")) + GgaAt(latitude, longitude) + "\r\n");
  return fd;
}

// Reads until the stream holds at least n bytes after the reply header; returns what followed it.
std::string StreamAfterHeader(int fd, size_t n) {
  std::string all;
  ReadUntil(fd, all, [n](const std::string& r) {
    const size_t end = r.find("\r\n\r\n");
    return end != std::string::npos && r.size() >= end + 4 + n;
  });
  const size_t end = all.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : all.substr(end + 4);
}

TEST(LinkBinaryTest, RoversOnUpstreamMountpointsAreServedByTheCoveringServer) {
  const fs::path recording = fs::path(KAVRO_SHARED_DATA) / "rtcm3/rtklib/testglo.rtcm3";
  if (!fs::exists(recording)) GTEST_SKIP() << "recorded streams not found at " << recording;
  std::ifstream in(recording, std::ios::binary);
  const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  StandIn server({"--port", "0", "--mount", "RTK1:1:RTCM 3.2_city", "--range", "30,40,110,120", "--stream",
                  recording.string(), "--chunk", "500", "--rate", "50000", "--duration", "60"});
  ASSERT_GT(server.port(), 0);
  // Work areas on (digit 15); one link slot on the stand-in.
  CasterProcess caster("SET=11000000001000100000\n[NET]\nUseNet=11\nIP1=127.0.0.1\nPORT1=" +
                       std::to_string(server.port()) + "\n");
  ASSERT_TRUE(caster.Start());
  auto logged = [&](const std::string& text) {
    return caster.WaitForLine([&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  ASSERT_TRUE(logged("QVO Link Ok"));
  ASSERT_TRUE(logged("KAVRONET Mount[RTK1,]"));
  ASSERT_TRUE(server.Has("LINK VORAN,KAVOROSERVER,"));

  // Accounts with work areas in the caster's own user database.
  {
    Ado_Sqlite db;
    ASSERT_EQ(db.Open((caster.directory() / "Kavro202.db").string(), "", ""), 1);
    ASSERT_EQ(db.Execute("INSERT INTO Scope(Name, B1, B2, L1, L2, DX, DY, DZ, RX, RY, RZ, SF, UseSeven, "
                         "UseUndulation) VALUES ('In', 30, 40, 110, 120, 1.5, -2.25, 3, 0.1, 0.2, 0.3, 1.000001, 1, 1), "
                         "('Far', 1, 2, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0)"),
              1);
    ASSERT_EQ(db.Execute("INSERT INTO USERPASSWORD(UserUser, USERPASSWORD, ScopeName) VALUES ('inside', 'pw', 'In'), "
                         "('far', 'pw', 'Far'), ('nowhere', 'pw', NULL)"),
              1);
  }

  // The upstream mountpoint is listed and its name reserved for sources and device bases.
  const int list = ConnectLoopback(caster.port());
  SendAll(list, GetRequest("/", ""));
  EXPECT_NE(ReadToClose(list).find("STR;RTK1;"), std::string::npos);
  close(list);
  const int source = ConnectLoopback(caster.port());
  SendAll(source, "SOURCE pw /RTK1\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  EXPECT_EQ(ReadToClose(source).rfind("ERROR", 0), 0u);
  close(source);
  const int device = ConnectLoopback(caster.port());
  SendAll(device, "VORAN,BASE,RTK1,Receiver X,Station,1\r\n");
  EXPECT_EQ(ReadToClose(device), "VORAN,REP_USER,OK\r\n");
  close(device);

  // Inside the coverage: GETMODE with the work area's parameters, then the stream unchanged.
  const int inside = Rover(caster.port(), "inside", 31.5, 116.2);
  EXPECT_EQ(StreamAfterHeader(inside, 5000).substr(0, 5000), stream.substr(0, 5000));
  EXPECT_TRUE(server.Has("GETMODE VORAN,GETMODE,RTK1,inside,1,0,1,1.50000,-2.25000,3.00000,0.100000000000,"
                         "0.200000000000,0.300000000000,1.000001000000"));
  // Outside every coverage: told so.
  const int nowhere = Rover(caster.port(), "nowhere", 50.0, 10.0);
  EXPECT_EQ(StreamAfterHeader(nowhere, 16), "VORAN,OUTDIST,\r\n");
  // Outside its work area on an RTCM 3.2 mountpoint: the fence's notice, then only the 25-byte frame.
  const int far = Rover(caster.port(), "far", 31.5, 116.2);
  const std::string fenced = StreamAfterHeader(far, 16 + 50);
  ASSERT_GE(fenced.size(), 16u + 50u);
  EXPECT_EQ(fenced.substr(0, 16), "VORAN,OUTDIST,\r\n");
  EXPECT_EQ(fenced.substr(16, 25), fenced.substr(41, 25));
  EXPECT_EQ(static_cast<uint8_t>(fenced[16]), 0xD3);

  // The server goes: its rovers close with reason 3, the last link's end clears the upstream list.
  EXPECT_EQ(server.Finish(SIGTERM), 0);
  // Reason 3 is the entry's; the close goes through the close event, which the log shows as 5.
  // The link's end and the two rovers' close lines come in any order.
  bool linkClosed = false;
  bool insideClosed = false;
  bool farClosed = false;
  EXPECT_TRUE(caster.WaitForLine([&](const std::string& l) {
    linkClosed = linkClosed || l.find("QVO Link Close") != std::string::npos;
    if (l.find("{5}") != std::string::npos) {
      insideClosed = insideClosed || l.find("[inside ") != std::string::npos;
      farClosed = farClosed || l.find("[far ") != std::string::npos;
    }
    return linkClosed && insideClosed && farClosed;
  })) << linkClosed << insideClosed << farClosed;
  const int later = ConnectLoopback(caster.port());
  SendAll(later, GetRequest("/", ""));
  EXPECT_EQ(ReadToClose(later).find("STR;RTK1;"), std::string::npos);
  for (int fd : {inside, nowhere, far, later}) close(fd);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
