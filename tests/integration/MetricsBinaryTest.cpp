// The metrics page of the real caster binary while a base feeds rovers over loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/ntrip/Base64.h"
#include "support/CasterProcess.h"
#include "support/HttpClient.h"
#include "support/NtripClient.h"
#include "support/PrometheusText.h"

namespace {

using namespace testsupport;
namespace http = boost::beast::http;

PromPage Metrics(int port) {
  const HttpResponse response = HttpRequest(port, http::verb::get, "/metrics");
  EXPECT_EQ(response.result(), http::status::ok);
  EXPECT_EQ(response[http::field::content_type], "text/plain; version=0.0.4");
  PromPage page;
  EXPECT_TRUE(page.Parse(response.body())) << page.error() << "\n" << response.body();
  return page;
}

TEST(MetricsBinaryTest, CountersFollowARelay) {
  CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const std::string listening = "Monitor http://127.0.0.1:" + std::to_string(caster.monitorPort()) + "/";
  ASSERT_TRUE(
      caster.WaitForLine([&](const std::string& l) { return l.find(listening) != std::string::npos; }));
  EXPECT_EQ(Metrics(caster.monitorPort()).Value("kavro_relay_latency_seconds_count"), 0);

  const int source = ConnectLoopback(caster.port());
  SendAll(source, "SOURCE pw /RTK1\r\nSource-Agent: NTRIP KavroTest\r\n\r\n");
  std::string reply;
  ASSERT_TRUE(ReadUntil(source, reply, HasHeaderEnd)) << reply;
  std::vector<int> rovers;
  std::vector<std::string> received(3);
  for (size_t i = 0; i < received.size(); ++i) {
    rovers.push_back(ConnectLoopback(caster.port()));
    SendAll(rovers[i], GetRequest("/RTK1", EncodeBase64("rover" + std::to_string(i) + ":pw")));
    ASSERT_TRUE(ReadUntil(rovers[i], received[i], HasHeaderEnd));
    received[i].erase(0, received[i].find("\r\n\r\n") + 4);
  }
  const int lost = ConnectLoopback(caster.port());  // a mountpoint nobody serves
  SendAll(lost, GetRequest("/NONE", EncodeBase64("lost:pw")));
  ReadToClose(lost);
  close(lost);

  const std::string chunk(500, '\x01');
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(SendAll(source, chunk));
  for (size_t i = 0; i < rovers.size(); ++i) {
    EXPECT_TRUE(ReadUntil(rovers[i], received[i], [](const std::string& r) { return r.size() >= 5000; }));
  }

  const PromPage page = Metrics(caster.monitorPort());
  EXPECT_GE(page.Value("kavro_received_bytes_total"), 5000);
  EXPECT_GE(page.Value("kavro_sent_bytes_total"), 3 * 5000);
  EXPECT_GE(page.Value("kavro_relay_latency_seconds_count"), 1);
  EXPECT_GT(page.Value("kavro_relay_latency_seconds_sum"), 0);
  EXPECT_EQ(page.Value("kavro_logins_total", {{"result", "accepted"}}), 4);
  EXPECT_EQ(page.Value("kavro_logins_total", {{"result", "unknown_mountpoint"}}), 1);
  EXPECT_EQ(page.Value("kavro_connections", {{"type", "BASE"}}), 1);
  EXPECT_EQ(page.Value("kavro_connections", {{"type", "NTRIP"}}), 3);
  double bases = 0;
  for (const PromSample& s : page.families.at("kavro_bases").samples) bases += s.value;
  EXPECT_EQ(bases, 1);
  for (int fd : rovers) close(fd);
  close(source);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
