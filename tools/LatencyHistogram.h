#pragma once
// Latency samples in microseconds kept in log-linear buckets (relative error under 1%), so that
// millions of samples take a fixed 30 KiB.
#include <array>
#include <cstdint>

namespace ntripload {

class LatencyHistogram {
 public:
  void Add(uint64_t micros);
  void Merge(const LatencyHistogram& other);

  uint64_t count() const { return count_; }
  uint64_t max() const { return max_; }
  // The nearest-rank percentile (fraction 0..1) of the samples: exact below 128 us, otherwise the
  // middle of its bucket, kept within the smallest and largest sample. 0 without samples.
  uint64_t Percentile(double fraction) const;

 private:
  static constexpr int kSubBits = 6;  // 64 buckets per power of two above 128
  static constexpr int kLinear = 2 << kSubBits;
  static constexpr int kBuckets = kLinear + (64 - kSubBits - 1) * (1 << kSubBits);
  static int Index(uint64_t micros);
  static uint64_t Middle(int index);

  std::array<uint64_t, kBuckets> buckets_{};
  uint64_t count_ = 0;
  uint64_t min_ = UINT64_MAX;
  uint64_t max_ = 0;
};

}  // namespace ntripload
