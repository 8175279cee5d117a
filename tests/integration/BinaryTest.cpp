// Tests that start the real caster binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/CasterProcess.h"

namespace {

using testsupport::CasterProcess;
using testsupport::ConnectLoopback;
using testsupport::ReadAvailable;
using testsupport::SendAll;

bool WaitForEnd(int fd) {
  pollfd p{fd, POLLIN, 0};
  std::string ignored;
  for (int i = 0; i < 100; ++i) {
    if (poll(&p, 1, 10000) <= 0) return false;
    if (!ReadAvailable(fd, ignored)) return true;
  }
  return false;
}

TEST(BinaryTest, EveryRefusedGetIsClosedWithReasonTwo) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  constexpr int kClients = 200;
  std::vector<int> fds;
  for (int i = 0; i < kClients; ++i) {
    const int fd = ConnectLoopback(caster.port());
    ASSERT_GE(fd, 0) << "connect " << i;
    ASSERT_TRUE(SendAll(fd, "GET /MOUNT" + std::to_string(i) + " HTTP/1.0\r\nUser-Agent: NTRIP t\r\n\r\n"));
    fds.push_back(fd);
  }
  for (int fd : fds) {
    EXPECT_TRUE(WaitForEnd(fd));
    close(fd);
  }
  int refused = 0;
  EXPECT_TRUE(caster.WaitForLine([&](const std::string& line) {
    if (line.size() > 4 && line.compare(line.size() - 4, 4, " {2}") == 0 && line.find("客户端[") != std::string::npos) {
      ++refused;
    }
    return refused == kClients;
  }));
  EXPECT_EQ(refused, kClients);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(BinaryTest, SigtermStopsTheServiceAndClosesConnections) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const int a = ConnectLoopback(caster.port());
  const int b = ConnectLoopback(caster.port());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_TRUE(SendAll(a, "$GPGGA,partial"));  // data without a request keeps the connection open
  EXPECT_EQ(caster.Stop(SIGTERM), 0);
  EXPECT_TRUE(WaitForEnd(a));
  EXPECT_TRUE(WaitForEnd(b));
  close(a);
  close(b);
  const auto& lines = caster.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "OnClose Stop");
  EXPECT_EQ(lines.back(), "Stop");
}

TEST(BinaryTest, SecondPortAndSigint) {
  const int port2 = testsupport::FreeLoopbackPort();
  CasterProcess caster("PORT2=" + std::to_string(port2) + "\n");
  ASSERT_TRUE(caster.Start());
  ASSERT_TRUE(caster.WaitForLine(
      [&](const std::string& line) { return line.find("PORT[" + std::to_string(port2) + "]") != std::string::npos; }));
  const int fd = ConnectLoopback(port2);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, "SOURCE x /M\r\n\r\n"));
  EXPECT_TRUE(WaitForEnd(fd));
  close(fd);
  EXPECT_EQ(caster.Stop(SIGINT), 0);
}

TEST(BinaryTest, HelpAndVersionPrintAndExit) {
  for (const char* flag : {"--help", "--version"}) {
    const std::string command = std::string(KAVRO_BINARY) + " " + flag;
    std::FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char text[512] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, p);
    EXPECT_EQ(pclose(p), 0) << flag;
    EXPECT_GT(n, 0u);
    if (std::string(flag) == "--version") {
      EXPECT_EQ(std::string(text).rfind("KavroServer 2.00.", 0), 0u);
    }
  }
  const std::string bad = std::string(KAVRO_BINARY) + " --bogus > /dev/null 2>&1";
  EXPECT_NE(std::system(bad.c_str()), 0);
}

}  // namespace
