#pragma once
// Per-address connection limits: connections open at once and new connections a minute from one
// IPv4 address. Counted on accept, released on close; the time is passed in, so tests drive it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>

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
  Decision Admit(uint32_t address, TimePoint now);
  // An admitted connection from the address closed.
  void Release(uint32_t address, TimePoint now);

  int Open(uint32_t address) const;
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
  void KeepUntil(uint32_t address, Counts& counts, TimePoint until);
  // Drops addresses whose last reason to be remembered has passed.
  void Forget(TimePoint now);

  int maxOpen_ = 0;
  int maxConnects_ = 0;
  std::unordered_map<uint32_t, Counts> counts_;
  // (time, address) in time order: every time is now + kWindow when pushed, so the front expires
  // first and forgetting costs O(1) per accept; at most two entries per address a minute.
  std::deque<std::pair<TimePoint, uint32_t>> expiries_;
};

// "127.0.0.1 refused: more than 3 connections at once (MaxPerIP)" and the like.
std::string AddressRefusalText(const std::string& address, const AddressLimits::Decision& decision);
