// Tests that start the real caster binary.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CasterProcess.h"

namespace {

using testsupport::CasterProcess;
using testsupport::ConnectLoopback;
using testsupport::ReadAvailable;
using testsupport::SendAll;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every line of the daily log files of a program directory, oldest file first.
std::vector<std::string> DailyLogLines(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(directory / "LOG"))
    files.push_back(item.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

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
    if (line.size() > 4 && line.compare(line.size() - 4, 4, " {2}") == 0 &&
        line.find("客户端[") != std::string::npos) {
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
  EXPECT_TRUE(EndsWith(lines[lines.size() - 2], "  OnClose Stop")) << lines[lines.size() - 2];
  EXPECT_TRUE(EndsWith(lines.back(), "  Stop")) << lines.back();
}

TEST(BinaryTest, NewDirectoryGetsItsLayoutAndDailyLog) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  for (const char* name : {"INI", "BASE", "LOG", "KML", "GGA", "ServerHtml", "DownLoad"}) {
    EXPECT_TRUE(std::filesystem::is_directory(caster.directory() / name)) << name;
  }
  EXPECT_EQ(caster.Stop(SIGTERM), 0);

  const std::vector<std::string> lines = DailyLogLines(caster.directory());
  ASSERT_GE(lines.size(), 4u);
  // "YYYY/MM/DD HH:MM:SS  info" with hour, minute and second padded by spaces.
  // "YYYY/MM/DD HH:MM:SS  info": '9' a digit, '_' a digit or a blank.
  const std::string form = "9999/99/99 _9:_9:_9  ";
  auto matches = [&](const std::string& line) {
    if (line.size() <= form.size() || line[form.size()] == ' ') return false;
    for (size_t i = 0; i < form.size(); ++i) {
      const char c = line[i];
      const bool digit = c >= '0' && c <= '9';
      if (form[i] == '9' ? !digit : form[i] == '_' ? !(digit || c == ' ') : c != form[i]) return false;
    }
    return true;
  };
  for (const auto& line : lines) EXPECT_TRUE(matches(line)) << line;
  EXPECT_NE(lines.front().find("FeeDisk"), std::string::npos) << lines.front();
  const std::string listening = "PORT[" + std::to_string(caster.port()) + "]";
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(listening) != std::string::npos;
  }));
  EXPECT_TRUE(EndsWith(lines[lines.size() - 2], "  OnClose Stop"));
  EXPECT_TRUE(EndsWith(lines.back(), "  Stop"));
  // Standard output carries the same lines.
  EXPECT_EQ(caster.lines().back(), lines.back());
}

TEST(BinaryTest, SecondCasterOnTheSameDirectoryIsRefused) {
  CasterProcess first;
  ASSERT_TRUE(first.Start());
  const std::string command =
      "timeout 20 " + std::string(KAVRO_BINARY) + " --dir " + first.directory().string() + " 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char block[512];
  for (size_t n; (n = std::fread(block, 1, sizeof block, p)) > 0;) output.append(block, n);
  const int status = pclose(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  EXPECT_NE(output.find("Other User Runing"), std::string::npos) << output;

  CasterProcess other;  // another directory is another instance
  EXPECT_TRUE(other.Start());
  EXPECT_EQ(other.Stop(), 0);
  // The first one still serves.
  const int fd = ConnectLoopback(first.port());
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  EXPECT_EQ(first.Stop(), 0);
}

TEST(BinaryTest, SecondPortAndSigint) {
  const int port2 = testsupport::FreeLoopbackPort();
  CasterProcess caster("PORT2=" + std::to_string(port2) + "\n");
  ASSERT_TRUE(caster.Start());
  ASSERT_TRUE(caster.WaitForLine([&](const std::string& line) {
    return line.find("PORT[" + std::to_string(port2) + "]") != std::string::npos;
  }));
  const int fd = ConnectLoopback(port2);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, "SOURCE x /[M]\r\n\r\n"));  // a bracketed name gets the sourcetable, then the close
  std::string reply;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 10000) == 1 && ReadAvailable(fd, reply)) {
  }
  EXPECT_EQ(reply.rfind("SOURCETABLE 200 OK\r\n", 0), 0u) << reply;
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
