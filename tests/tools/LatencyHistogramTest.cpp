// Percentiles of the load tool's latency histogram.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tools/LatencyHistogram.h"

namespace {

using ntripload::LatencyHistogram;

TEST(LatencyHistogramTest, SmallValuesAreExact) {
  LatencyHistogram h;
  EXPECT_EQ(h.Percentile(0.5), 0u);
  for (uint64_t v = 100; v >= 1; --v) h.Add(v);
  EXPECT_EQ(h.count(), 100u);
  EXPECT_EQ(h.Percentile(0.50), 50u);
  EXPECT_EQ(h.Percentile(0.99), 99u);
  EXPECT_EQ(h.Percentile(1.0), 100u);
  EXPECT_EQ(h.Percentile(0.0), 1u);
  EXPECT_EQ(h.max(), 100u);
}

TEST(LatencyHistogramTest, LargeValuesWithinOnePercentOfTheNearestRank) {
  std::mt19937_64 random(3);
  std::vector<uint64_t> samples;
  LatencyHistogram whole, first, second;
  for (int i = 0; i < 50000; ++i) {
    // Spread over 1 us .. 100 s on a logarithmic scale.
    const double exponent = std::uniform_real_distribution<double>(0, 8)(random);
    const auto v = static_cast<uint64_t>(std::pow(10.0, exponent));
    samples.push_back(v);
    whole.Add(v);
    (i % 2 ? first : second).Add(v);
  }
  first.Merge(second);
  std::sort(samples.begin(), samples.end());
  for (const double p : {0.01, 0.5, 0.9, 0.99, 0.999}) {
    const uint64_t exact = samples[static_cast<size_t>(std::ceil(p * samples.size())) - 1];
    const uint64_t got = whole.Percentile(p);
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(exact), exact * 0.01 + 0.5) << "p" << p;
    EXPECT_EQ(first.Percentile(p), got) << "merged halves differ at p" << p;
  }
  EXPECT_EQ(whole.max(), samples.back());
  EXPECT_EQ(whole.Percentile(1.0), samples.back());
}

}  // namespace
