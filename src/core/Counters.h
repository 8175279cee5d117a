#pragma once
// Running totals of the caster's traffic for the metrics page. Every field is a plain integer written
// on the main thread only, so that counting on the relay's path costs an increment; the page reads
// them on the same thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

// The result of a login (NTRIP source or rover, device link or login), as its reply tells it.
enum class LoginResult : uint8_t {
  kAccepted,
  kNoCredentials,      // a refusal naming no account error (no user name given)
  kBadCredentials,     // account check 1: user name or password wrong
  kTimeExceeded,       // 2: used time above the allowance
  kDateExceeded,       // 3: last valid day passed
  kServiceRestricted,  // 4: service denied by the account's rights
  kSerialMismatch,     // 5: receiver serial binding not met
  kBadPassword,        // 6: wrong password (server back end)
  kUnknownUser,        // 7: no such user (server back end)
  kAlreadyConnected,   // the name or mountpoint is taken
  kUnknownMountpoint,  // no base or service for the mountpoint
  kUserRepeated,       // the user is online already
  kCount
};

// The login result of a refusal's error index (1 to 7 the account check's codes).
constexpr LoginResult LoginRefusal(int errorIndex) {
  return errorIndex >= 1 && errorIndex <= 7
             ? static_cast<LoginResult>(static_cast<int>(LoginResult::kBadCredentials) + errorIndex - 1)
             : LoginResult::kNoCredentials;
}

// Monotonic nanoseconds; never 0 on a running system.
inline int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A latency histogram with fixed buckets; counts per bucket (not cumulative) and the sum, in
// nanoseconds.
class LatencyHistogram {
 public:
  // Upper bounds of the buckets, from 50 µs to 1 s; longer times fall into the last (+Inf) bucket.
  static constexpr std::array<int64_t, 14> kBounds = {
      50'000,     100'000,    250'000,    500'000,     1'000'000,   2'500'000,   5'000'000,
      10'000'000, 25'000'000, 50'000'000, 100'000'000, 250'000'000, 500'000'000, 1'000'000'000};

  void Observe(int64_t nanoseconds) {
    if (nanoseconds < 0) nanoseconds = 0;
    size_t bucket = 0;
    while (bucket < kBounds.size() && nanoseconds > kBounds[bucket]) ++bucket;
    ++counts_[bucket];
    sum_ += static_cast<uint64_t>(nanoseconds);
  }
  // Observations in bucket i; i == kBounds.size() is the bucket above the last bound.
  uint64_t Count(size_t i) const { return counts_[i]; }
  uint64_t SumNanoseconds() const { return sum_; }

 private:
  std::array<uint64_t, kBounds.size() + 1> counts_{};
  uint64_t sum_ = 0;
};

struct Counters {
  uint64_t bytesReceived = 0;  // read from every connection
  uint64_t bytesSent = 0;      // written to the kernel or queued for it
  uint64_t chunksDropped = 0;  // dropped whole because a write queue was over its bound
  uint64_t sendErrors = 0;     // hard send errors
  std::array<uint64_t, static_cast<size_t>(LoginResult::kCount)> logins{};
  // From the read of a base's chunk to its queueing for the last of the rovers it feeds.
  LatencyHistogram relayLatency;
  // When the chunk being handled now was read; 0 outside a read (a request handled later, when the
  // database answered, relays nothing timed).
  int64_t readTime = 0;

  void Login(LoginResult result) { ++logins[static_cast<size_t>(result)]; }
  // Called when a base's chunk has been queued for its rovers.
  void Relayed() {
    if (readTime != 0) relayLatency.Observe(MonotonicNanoseconds() - readTime);
  }
};

// Counts one read while it is handled: its bytes, and its time for the relay's latency.
class ReadScope {
 public:
  ReadScope(Counters& counters, size_t bytes) : counters_(counters) {
    counters_.bytesReceived += bytes;
    counters_.readTime = MonotonicNanoseconds();
  }
  ~ReadScope() { counters_.readTime = 0; }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Counters& counters_;
};
