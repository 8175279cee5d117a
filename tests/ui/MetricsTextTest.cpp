// The metrics page text: its syntax read back by a strict format reader, its figures, and the
// histogram's buckets.
#include <gtest/gtest.h>

#include "support/PrometheusText.h"
#include "ui/MetricsText.h"

namespace {

using testsupport::PromPage;

TEST(MetricsTextTest, PageParsesAndCarriesTheSnapshot) {
  MetricsSnapshot s;
  s.serviceRunning = true;
  s.connections = {{"BASE", 2}, {"NTRIP", 5}};
  s.bases = {{"RTCM30", 2}, {"odd \"name\\\n", 1}};
  s.counters.bytesReceived = 1234;
  s.counters.bytesSent = 99999;
  s.counters.Login(LoginRefusal(6));
  s.counters.Login(LoginResult::kAccepted);
  s.counters.Login(LoginResult::kAccepted);
  for (const int64_t ns : {int64_t{40'000}, int64_t{700'000}, int64_t{900'000}, int64_t{3'000'000'000}})
    s.counters.relayLatency.Observe(ns);
  s.dbQueryQueue = 3;
  s.linkSlotsUp = 1;

  PromPage page;
  ASSERT_TRUE(page.Parse(MetricsText(s))) << page.error() << "\n" << MetricsText(s);
  EXPECT_EQ(page.Value("kavro_service_running"), 1);
  EXPECT_EQ(page.Value("kavro_connections", {{"type", "NTRIP"}}), 5);
  EXPECT_EQ(page.Value("kavro_bases", {{"format", "odd \"name\\\n"}}), 1);
  EXPECT_EQ(page.Value("kavro_received_bytes_total"), 1234);
  EXPECT_EQ(page.Value("kavro_sent_bytes_total"), 99999);
  EXPECT_EQ(page.Value("kavro_logins_total", {{"result", "accepted"}}), 2);
  EXPECT_EQ(page.Value("kavro_logins_total", {{"result", "bad_password"}}), 1);
  EXPECT_EQ(page.Value("kavro_logins_total", {{"result", "unknown_mountpoint"}}), 0);
  EXPECT_EQ(page.Value("kavro_db_query_queue_length"), 3);
  EXPECT_EQ(page.Value("kavro_link_slots_up"), 1);
  EXPECT_EQ(page.Value("kavro_relay_latency_seconds_bucket", {{"le", "0.00005"}}), 1);
  EXPECT_EQ(page.Value("kavro_relay_latency_seconds_bucket", {{"le", "0.001"}}), 3);
  EXPECT_EQ(page.Value("kavro_relay_latency_seconds_bucket", {{"le", "1"}}), 3);
  EXPECT_EQ(page.Value("kavro_relay_latency_seconds_bucket", {{"le", "+Inf"}}), 4);
  EXPECT_EQ(page.Value("kavro_relay_latency_seconds_count"), 4);
  EXPECT_DOUBLE_EQ(page.Value("kavro_relay_latency_seconds_sum"), 3.00164);
}

// The reader finds the faults it is there to find.
TEST(MetricsTextTest, ReaderRefusesMalformedPages) {
  const char* const pages[] = {
      "x 1\n",                                                                    // no HELP/TYPE
      "# HELP a_total h\n# TYPE a_total counter\na_total 1",                      // no final line feed
      "# HELP a h\n# TYPE a counter\na 1\n",                                      // counter without _total
      "# HELP 1a h\n# TYPE 1a gauge\n1a 1\n",                                     // bad name
      "# HELP a h\n# TYPE a gauge\na{b-c=\"1\"} 1\n",                             // bad label name
      "# HELP a h\n# TYPE a gauge\na 1\n# HELP b h\n# TYPE b gauge\nb 1\na 2\n",  // split family
      "# HELP h h\n# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_bucket{le=\"2\"} 1\n"
      "h_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 2\n",                                  // not cumulative
      "# HELP h h\n# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_sum 1\nh_count 2\n",     // no +Inf
      "# HELP h h\n# TYPE h histogram\nh_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 3\n",  // count differs
  };
  for (const char* text : pages) EXPECT_FALSE(PromPage().Parse(text)) << text;
}

TEST(MetricsTextTest, HistogramBucketsAndTexts) {
  const struct {
    int64_t ns;
    size_t bucket;
  } cases[] = {
      {-5, 0}, {0, 0}, {50'000, 0}, {50'001, 1}, {999'999'999, 13}, {1'000'000'000, 13}, {1'000'000'001, 14}};
  for (const auto& c : cases) {
    LatencyHistogram h;
    h.Observe(c.ns);
    EXPECT_EQ(h.Count(c.bucket), 1u) << c.ns;
    EXPECT_EQ(h.SumNanoseconds(), static_cast<uint64_t>(std::max<int64_t>(c.ns, 0)));
  }
  EXPECT_EQ(SecondsText(50'000), "0.00005");
  EXPECT_EQ(SecondsText(1'000'000'000), "1");
  EXPECT_EQ(SecondsText(2'500'000'001), "2.500000001");
  EXPECT_EQ(SecondsText(0), "0");
  EXPECT_EQ(LoginRefusal(1), LoginResult::kBadCredentials);
  EXPECT_EQ(LoginRefusal(7), LoginResult::kUnknownUser);
  EXPECT_EQ(LoginRefusal(100), LoginResult::kNoCredentials);
  EXPECT_EQ(LoginRefusal(0), LoginResult::kNoCredentials);
}

}  // namespace
