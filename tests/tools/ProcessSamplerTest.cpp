// The /proc sampler of the load tool, on the test's own process.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "tools/ProcessSampler.h"

namespace {

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

TEST(ProcessSamplerTest, OwnCpuTimeAndMemory) {
  const ntripload::ProcessSample before = ntripload::SampleProcess(getpid());
  ASSERT_TRUE(before.ok);
  EXPECT_GT(before.rssKib, 0u);
  EXPECT_GE(before.peakRssKib, before.rssKib);

  // Work for 0.2 s of CPU time and touch 64 MiB.
  const double cpuStart = OwnCpuSeconds();
  volatile uint64_t sink = 0;
  while (OwnCpuSeconds() - cpuStart < 0.2) {
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
  constexpr size_t kBlock = 64u << 20;
  std::unique_ptr<char[]> block(new char[kBlock]);
  std::memset(block.get(), 1, kBlock);

  const ntripload::ProcessSample after = ntripload::SampleProcess(getpid());
  ASSERT_TRUE(after.ok);
  // /proc counts in clock ticks (usually 10 ms): allow a few ticks of difference from getrusage.
  EXPECT_NEAR(after.cpuSeconds - before.cpuSeconds, OwnCpuSeconds() - cpuStart, 0.05);
  EXPECT_GE(after.rssKib, before.rssKib + 60 * 1024);
  EXPECT_GE(after.peakRssKib, after.rssKib);
  EXPECT_EQ(block[kBlock - 1], 1);

  const ntripload::ProcessUsage usage = ntripload::Usage(getpid(), before, before, after, 2.0);
  EXPECT_TRUE(usage.complete);
  EXPECT_DOUBLE_EQ(usage.cpuSeconds, after.cpuSeconds - before.cpuSeconds);
  EXPECT_EQ(usage.peakRssKib, after.peakRssKib);
  EXPECT_FALSE(ntripload::Usage(getpid(), before, ntripload::ProcessSample{}, after, 2.0).complete);
}

TEST(ProcessSamplerTest, NoSuchProcess) {
  EXPECT_FALSE(ntripload::SampleProcess(0).ok);
  EXPECT_FALSE(ntripload::SampleProcess(1 << 30).ok);
}

}  // namespace
