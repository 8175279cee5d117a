// NTRIP sources and rovers against the real caster binary over loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ntrip/Base64.h"
#include "support/CasterProcess.h"
#include "support/NtripClient.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr const char* kSourceOk = "ICY 200 OK\r\n\r\n";

// A logged-in source on a mountpoint; -1 when refused.
int StartSource(int port, const std::string& mountpoint, const std::string& password = "pw") {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return -1;
  SendAll(fd, "SOURCE " + password + " /" + mountpoint + "\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string reply;
  if (!ReadUntil(fd, reply, [](const std::string& r) { return r.size() >= 14; }) || reply != kSourceOk) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends a GET and reads the reply header; the stream bytes read with it stay in `rest`.
std::string Ask(int fd, const std::string& request, std::string& rest) {
  SendAll(fd, request);
  std::string all;
  ReadUntil(fd, all, HasHeaderEnd);
  const size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos) return all;
  rest = all.substr(end + 4);
  return all.substr(0, end + 4);
}

TEST(NtripBinaryTest, HundredRoversGetEveryByteInOrder) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const int source = StartSource(caster.port(), "RTK1");
  ASSERT_GE(source, 0);

  constexpr int kRovers = 100;
  std::vector<int> rovers;
  std::vector<std::string> received(kRovers);
  for (int i = 0; i < kRovers; ++i) {
    const int fd = ConnectLoopback(caster.port());
    ASSERT_GE(fd, 0);
    const bool v2 = i % 2 == 1;
    const std::string header =
        Ask(fd, GetRequest("/RTK1", EncodeBase64("rover" + std::to_string(i) + ":pw"), v2), received[i]);
    ASSERT_EQ(header.rfind(v2 ? "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n" : "ICY 200 OK\r\n", 0), 0u)
        << i << ": " << header;
    rovers.push_back(fd);
  }

  // Every byte value in every position, in chunks of varied sizes.
  std::string stream;
  for (int chunk = 0; chunk < 200; ++chunk) {
    std::string bytes(100 + (chunk * 37) % 1400, '\0');
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((chunk * 131 + k) & 0xFF);
    stream += bytes;
    ASSERT_TRUE(SendAll(source, bytes));
  }
  // Last, more than one read takes: what the first read leaves in the socket must follow at once.
  const std::string tail(20000, '\x5a');
  stream += tail;
  ASSERT_TRUE(SendAll(source, tail));
  for (int i = 0; i < kRovers; ++i) {
    ReadUntil(rovers[i], received[i], [&](const std::string& r) { return r.size() >= stream.size(); });
    EXPECT_TRUE(received[i] == stream)
        << "rover " << i << " got " << received[i].size() << " of " << stream.size();
    close(rovers[i]);
  }
  close(source);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(NtripBinaryTest, RefusalsAnswerAsClientsExpect) {
  CasterProcess caster("SET=10000000000001000000\n");  // password protection on
  // Password protection without an account: sources and rovers are refused.
  ASSERT_TRUE(caster.Start());
  int fd = ConnectLoopback(caster.port());
  SendAll(fd, "SOURCE pw /RTK1\r\n\r\n");
  EXPECT_EQ(ReadToClose(fd), "ERROR - Bad Password \r\n\r\n");
  close(fd);

  fd = ConnectLoopback(caster.port());
  const std::string reply = (SendAll(fd, GetRequest("/RTK1", "")), ReadToClose(fd));
  EXPECT_EQ(reply.rfind("HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"/RTK1\"\r\n", 0), 0u)
      << reply;
  close(fd);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(NtripBinaryTest, RepeatsListsAndUnservedMountpoints) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const int source = StartSource(caster.port(), "RTK1");
  ASSERT_GE(source, 0);

  int fd = ConnectLoopback(caster.port());
  SendAll(fd, "SOURCE pw /RTK1\r\n\r\n");
  EXPECT_EQ(ReadToClose(fd), "ERROR - Already Connected\r\n\r\n");
  close(fd);

  // The sourcetable lists the base, through "/" and through a window that holds it (0 bounds).
  for (const std::string path : {"/", "/?filter=;;;;;;;;;;"}) {
    fd = ConnectLoopback(caster.port());
    SendAll(fd, GetRequest(path, ""));
    const std::string table = ReadToClose(fd);
    EXPECT_EQ(table.rfind("SOURCETABLE 200 OK\r\n", 0), 0u) << table;
    EXPECT_NE(table.find("STR;RTK1;RTK1;"), std::string::npos) << table;
    EXPECT_EQ(table.substr(table.size() - 20), "ENDSOURCETABLE\r\n\r\n\r\n");
    close(fd);
  }

  // A rover for a mountpoint nobody serves gets the sourcetable; a second login of a user too.
  fd = ConnectLoopback(caster.port());
  SendAll(fd, GetRequest("/NONE", EncodeBase64("u1:pw")));
  EXPECT_EQ(ReadToClose(fd).rfind("SOURCETABLE 200 OK\r\n", 0), 0u);
  close(fd);
  const int first = ConnectLoopback(caster.port());
  std::string rest;
  EXPECT_EQ(Ask(first, GetRequest("/RTK1", EncodeBase64("u2:pw")), rest).rfind("ICY 200 OK\r\n", 0), 0u);
  fd = ConnectLoopback(caster.port());
  SendAll(fd, GetRequest("/RTK1", EncodeBase64("u2:pw")));
  EXPECT_EQ(ReadToClose(fd).rfind("SOURCETABLE 200 OK\r\n", 0), 0u);
  close(fd);
  close(first);
  close(source);
  EXPECT_EQ(caster.Stop(), 0);
}

// Listed users are passed on to an upstream caster; what it sends reaches the rover unchanged.
TEST(NtripBinaryTest, ForwardedUserIsServedByTheUpstreamCaster) {
  int upstreamPort = 0;
  const int listener = ListenLoopback(upstreamPort);

  CasterProcess caster;
  std::ofstream(caster.directory() / "USER.NAME")
      << "[Settings]\nIP=127.0.0.1\nPORT=" << upstreamPort << "\nUSER=fwd:pw\nUSER2=far:secret\n";
  ASSERT_TRUE(caster.Start());
  const int rover = ConnectLoopback(caster.port());
  SendAll(rover, GetRequest("/FAR1", EncodeBase64("fwd:pw")));

  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  const int upstream = accept(listener, nullptr, nullptr);
  ASSERT_GE(upstream, 0);
  std::string request;
  ReadUntil(upstream, request, HasHeaderEnd);
  EXPECT_EQ(request,
            "GET /FAR1 HTTP/1.1\r\nUser-Agent: NTRIP NETSET_DEBUG\r\nAccept: */*\r\nConnection: close\r\n"
            "Authorization: Basic " +
                EncodeBase64("far:secret") + "\r\n\r\n");
  const std::string upstreamBytes =
      std::string("ICY 200 OK\r\n\r\n") + std::string("\xd3\x00\x04\x01\x02\x03\x04", 7);
  SendAll(upstream, upstreamBytes);

  std::string got;
  ReadUntil(rover, got, [&](const std::string& r) { return r.find(upstreamBytes) != std::string::npos; });
  EXPECT_EQ(got.rfind("ICY 200 OK\r\nServer: KavroGnss-Tavix/", 0), 0u) << got;
  EXPECT_NE(got.find(upstreamBytes), std::string::npos);
  close(upstream);
  close(rover);
  close(listener);
  EXPECT_EQ(caster.Stop(), 0);
}

// RTKLIB's str2str uploads a recorded RTCM 3 stream as an NTRIP server and reads it back as an
// NTRIP client through the caster.
TEST(NtripBinaryTest, Str2strUploadsAndReadsBackTheStream) {
  const fs::path recording = fs::path(KAVRO_SHARED_DATA) / "rtcm3/rtklib/testglo.rtcm3";
  if (!fs::exists(recording)) GTEST_SKIP() << "recorded streams not found at " << recording;
  if (!fs::exists("/usr/bin/str2str")) GTEST_SKIP() << "str2str (Debian package rtklib) is not installed";
  std::ifstream in(recording, std::ios::binary);
  const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  // str2str's input is a TCP server of this test, so the stream starts only once both are connected.
  int feedPort = 0;
  const int feedListener = ListenLoopback(feedPort);
  const fs::path out = caster.directory() / "readback.rtcm3";
  const std::string casterAddress = "127.0.0.1:" + std::to_string(caster.port());
  auto spawn = [](std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      freopen("/dev/null", "w", stderr);
      execv("/usr/bin/str2str", argv.data());
      _exit(127);
    }
    return pid;
  };

  const pid_t server = spawn({"str2str", "-in", "tcpcli://127.0.0.1:" + std::to_string(feedPort), "-out",
                              "ntrips://:srcpw@" + casterAddress + "/STR2STR"});
  ASSERT_TRUE(caster.WaitForLine(
      [](const std::string& l) { return l.find("NTRIP SERVER STR2STR") != std::string::npos; }));
  const pid_t client = spawn({"str2str", "-in", "ntrip://reader:pw@" + casterAddress + "/STR2STR", "-out",
                              "file://" + out.string()});
  ASSERT_TRUE(caster.WaitForLine([](const std::string& l) {
    return l.find("[reader]") != std::string::npos && l.find(" OK") != std::string::npos;
  }));

  pollfd p{feedListener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  const int feed = accept(feedListener, nullptr, nullptr);
  ASSERT_GE(feed, 0);
  ASSERT_TRUE(SendAll(feed, stream));
  // str2str writes the file as the bytes arrive: look at it until it is complete (10 s at most).
  // str2str strips only "ICY 200 OK\r\n" from the answer; the caster's Server and Date lines that
  // follow it land in its output ahead of the stream.
  std::string readBack;
  const auto complete = [&] {
    const size_t end = readBack.find("\r\n\r\n");
    return end != std::string::npos && readBack.size() >= end + 4 + stream.size();
  };
  for (int i = 0; i < 200 && !complete(); ++i) {
    poll(nullptr, 0, 50);
    std::ifstream r(out, std::ios::binary);
    readBack.assign((std::istreambuf_iterator<char>(r)), std::istreambuf_iterator<char>());
  }
  const size_t headerEnd = readBack.find("\r\n\r\n");
  ASSERT_NE(headerEnd, std::string::npos);
  EXPECT_EQ(readBack.rfind("Server: KavroGnss-Tavix/", 0), 0u);
  EXPECT_EQ(readBack.size(), headerEnd + 4 + stream.size());
  EXPECT_TRUE(readBack.compare(headerEnd + 4, std::string::npos, stream) == 0) << "stream bytes differ";

  for (pid_t pid : {client, server}) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  close(feed);
  close(feedListener);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
