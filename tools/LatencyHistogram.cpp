#include "tools/LatencyHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace ntripload {

int LatencyHistogram::Index(uint64_t micros) {
  if (micros < static_cast<uint64_t>(kLinear)) return static_cast<int>(micros);
  const int exponent = std::bit_width(micros) - 1;  // at least kSubBits + 1
  const int shift = exponent - kSubBits;
  const int mantissa = static_cast<int>(micros >> shift);  // 64..127
  return kLinear + (exponent - kSubBits - 1) * (1 << kSubBits) + (mantissa - (1 << kSubBits));
}

uint64_t LatencyHistogram::Middle(int index) {
  if (index < kLinear) return static_cast<uint64_t>(index);
  const int step = index - kLinear;
  const int shift = step / (1 << kSubBits) + 1;
  const uint64_t mantissa = static_cast<uint64_t>(step % (1 << kSubBits) + (1 << kSubBits));
  return (mantissa << shift) + (uint64_t{1} << shift) / 2;
}

void LatencyHistogram::Add(uint64_t micros) {
  ++buckets_[Index(micros)];
  ++count_;
  min_ = std::min(min_, micros);
  max_ = std::max(max_, micros);
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
  for (size_t i = 0; i < buckets_.size(); ++i) buckets_[i] += other.buckets_[i];
  count_ += other.count_;
  min_ = std::min(min_, other.min_);
  max_ = std::max(max_, other.max_);
}

uint64_t LatencyHistogram::Percentile(double fraction) const {
  if (count_ == 0) return 0;
  const double wanted = std::ceil(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(count_));
  const uint64_t rank = std::max<uint64_t>(1, static_cast<uint64_t>(wanted));
  uint64_t seen = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    seen += buckets_[i];
    if (seen >= rank) return std::clamp(Middle(static_cast<int>(i)), min_, max_);
  }
  return max_;
}

}  // namespace ntripload
