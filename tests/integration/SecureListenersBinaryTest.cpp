// The TLS port and the IPv6 listeners of the real caster binary.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "core/ntrip/Base64.h"
#include "support/CasterProcess.h"
#include "support/NtripClient.h"
#include "support/TlsTestSupport.h"

namespace {

using namespace testsupport;

constexpr const char* kSourceOk = "ICY 200 OK\r\n\r\n";

// Every byte value in every position.
std::string StreamBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 131 + k / 256) & 0xFF);
  return bytes;
}

bool HasLine(CasterProcess& caster, const std::string& part) {
  return caster.WaitForLine([&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// A plain source logged in on the mountpoint; -1 when refused.
int PlainSource(int port, const std::string& mountpoint) {
  const int fd = ConnectLoopback(port);
  SendAll(fd, "SOURCE pw /" + mountpoint + "\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string reply;
  ReadUntil(fd, reply, [](const std::string& r) { return r.size() >= 14; });
  if (reply == kSourceOk) return fd;
  close(fd);
  return -1;
}

TEST(SecureListenersBinaryTest, TlsSourceFeedsPlainAndTlsRovers) {
  TestCertificate certificate;
  if (!certificate.made()) GTEST_SKIP() << "the openssl tool could not make a certificate";
  const int tlsPort = FreeLoopbackPort();
  CasterProcess caster("TLSPORT=" + std::to_string(tlsPort) + "\nTLSCERT=" + certificate.cert().string() +
                       "\nTLSKEY=" + certificate.key().string() + "\n");
  ASSERT_TRUE(caster.Start());
  ASSERT_TRUE(HasLine(caster, "PORT[" + std::to_string(tlsPort) + "]"));

  boost::asio::io_context io;
  TlsClient source(io);
  source.Connect(tlsPort);
  source.Send("SOURCE pw /RTK1\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  ASSERT_TRUE(RunUntil(io, [&] { return source.received().size() >= 14 || source.ended(); }));
  ASSERT_EQ(source.received(), kSourceOk);

  TlsClient tlsRover(io);
  tlsRover.Connect(tlsPort);
  tlsRover.Send(GetRequest("/RTK1", EncodeBase64("secure:pw"), true));
  ASSERT_TRUE(RunUntil(io, [&] { return HasHeaderEnd(tlsRover.received()) || tlsRover.ended(); }));
  ASSERT_EQ(tlsRover.received().rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u)
      << tlsRover.received();
  const size_t tlsHeader = tlsRover.received().find("\r\n\r\n") + 4;

  const int plainRover = ConnectLoopback(caster.port());
  ASSERT_GE(plainRover, 0);
  SendAll(plainRover, GetRequest("/RTK1", EncodeBase64("plain:pw"), false));
  std::string plain;
  ASSERT_TRUE(ReadUntil(plainRover, plain, HasHeaderEnd));
  ASSERT_EQ(plain.rfind("ICY 200 OK\r\n", 0), 0u) << plain;
  plain.erase(0, plain.find("\r\n\r\n") + 4);

  // More than one TLS record and more than one read of the caster.
  const std::string stream = StreamBytes(60000);
  source.Send(stream);
  ASSERT_TRUE(RunUntil(io, [&] { return tlsRover.received().size() >= tlsHeader + stream.size(); }));
  EXPECT_TRUE(tlsRover.received().substr(tlsHeader) == stream)
      << "TLS rover got " << tlsRover.received().size() - tlsHeader << " of " << stream.size();
  ReadUntil(plainRover, plain, [&](const std::string& r) { return r.size() >= stream.size(); });
  EXPECT_TRUE(plain == stream) << "plain rover got " << plain.size() << " of " << stream.size();
  close(plainRover);
  EXPECT_EQ(caster.Stop(), 0);
}

TEST(SecureListenersBinaryTest, Ipv6RoverGetsTheStreamAndIsLoggedWithItsAddress) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no ::1";
  CasterProcess caster("IPV6=1\n");
  ASSERT_TRUE(caster.Start());
  const int source = PlainSource(caster.port(), "RTK6");
  ASSERT_GE(source, 0);

  const int rover = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(static_cast<uint16_t>(caster.port()));
  address.sin6_addr = in6addr_loopback;
  ASSERT_EQ(connect(rover, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  SendAll(rover, GetRequest("/RTK6", EncodeBase64("six:pw"), false));
  std::string received;
  ASSERT_TRUE(ReadUntil(rover, received, HasHeaderEnd));
  ASSERT_EQ(received.rfind("ICY 200 OK\r\n", 0), 0u) << received;
  received.erase(0, received.find("\r\n\r\n") + 4);
  EXPECT_TRUE(HasLine(caster, "::1"));

  const std::string stream = StreamBytes(20000);
  SendAll(source, stream);
  ReadUntil(rover, received, [&](const std::string& r) { return r.size() >= stream.size(); });
  EXPECT_TRUE(received == stream) << "got " << received.size() << " of " << stream.size();
  close(rover);
  close(source);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
