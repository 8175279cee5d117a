#pragma once
// Per-address connection limits: connections open at once and new connections a minute from one
// client address. Counted on accept, released on close; the time is passed in, so tests drive it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

namespace boost::asio::ip {
class address;
}

// What the limits count by: an IPv4 address, or the /64 prefix of an IPv6 address (one host is
// usually given a whole /64, so single IPv6 addresses would let it walk around the limits).
struct AddressKey {
  uint64_t value = 0;
  bool v6 = false;
  AddressKey() = default;
  AddressKey(uint32_t v4) : value(v4) {}  // NOLINT(google-explicit-constructor): IPv4 as it is
  bool operator==(const AddressKey&) const = default;
};

struct AddressKeyHash {
  size_t operator()(const AddressKey& key) const {
    return std::hash<uint64_t>{}(key.value) ^ (key.v6 ? 0x9E3779B97F4A7C15ULL : 0);
  }
};

// The key of a peer's address; an IPv4-mapped IPv6 address counts as its IPv4 address.
AddressKey LimitKey(const boost::asio::ip::address& address);

class AddressLimits {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  // Length of the connect-rate window, and the least time between two reports of one address.
  static constexpr std::chrono::seconds kWindow{60};

  enum class Verdict { kAdmitted, kTooManyOpen, kTooManyConnects };
  struct Decision {
    Verdict verdict = Verdict::kAdmitted;
    bool report = false;  // the first refusal of the address in a minute: worth one log line
    int limit = 0;        // the limit that refused it
  };

  // 0 turns a limit off.
  void SetLimits(int maxOpen, int maxConnectsPerMinute);
  bool Enabled() const { return maxOpen_ > 0 || maxConnects_ > 0; }

  // A new connection from the address; an admitted one is counted until Release.
  Decision Admit(AddressKey address, TimePoint now);
  // An admitted connection from the address closed.
  void Release(AddressKey address, TimePoint now);

  int Open(AddressKey address) const;
  // Addresses remembered: those with open connections, a running window or a recent report.
  size_t Tracked() const { return counts_.size(); }

 private:
  struct Counts {
    int open = 0;
    int connects = 0;  // admitted since windowStart
    TimePoint windowStart{};
    bool reported = false;
    TimePoint reportedAt{};
    TimePoint keepUntil{};  // the end of the window or of the report's quiet minute, the later
  };
  void KeepUntil(AddressKey address, Counts& counts, TimePoint until);
  // Drops addresses whose last reason to be remembered has passed.
  void Forget(TimePoint now);

  int maxOpen_ = 0;
  int maxConnects_ = 0;
  std::unordered_map<AddressKey, Counts, AddressKeyHash> counts_;
  // (time, address) in time order: every time is now + kWindow when pushed, so the front expires
  // first and forgetting costs O(1) per accept; at most two entries per address a minute.
  std::deque<std::pair<TimePoint, AddressKey>> expiries_;
};

// "127.0.0.1 refused: more than 3 connections at once (MaxPerIP)" and the like.
std::string AddressRefusalText(const std::string& address, const AddressLimits::Decision& decision);
