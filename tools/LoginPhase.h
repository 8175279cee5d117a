#pragma once
// The rovers' login phase: from the first request written to the last answer read, how long each
// answer took (request written -> answer header read) and how each login ended.
#include <chrono>
#include <cstdint>

#include "tools/LatencyHistogram.h"

namespace ntripload {

enum class LoginOutcome { Accepted, Refused, NoAnswer, TimedOut, ConnectFailed };

struct LoginReport {
  int accepted = 0;       // answered OK
  int refused = 0;        // answered with anything else
  int noAnswer = 0;       // closed, or the request could not be written, before an answer
  int timedOut = 0;       // no answer within the connect timeout
  int connectFailed = 0;  // the TCP connect failed
  uint64_t answers = 0;   // accepted + refused
  double seconds = 0;     // first request written to last answer read; 0 without answers
  double answersPerSecond = 0;
  double answerP50Ms = 0;
  double answerP99Ms = 0;
  double answerMaxMs = 0;
};

class LoginPhase {
 public:
  using Clock = std::chrono::steady_clock;

  void RequestWritten(Clock::time_point when);
  // An answer header read at `read` for a request written at `written`.
  void Answered(Clock::time_point written, Clock::time_point read, bool accepted);
  // A login that ended without an answer.
  void Ended(LoginOutcome outcome);

  LoginReport Summary() const;

 private:
  bool requested_ = false;
  Clock::time_point firstRequest_{};
  Clock::time_point lastAnswer_{};
  LatencyHistogram answerTimes_;
  LoginReport counts_;
};

}  // namespace ntripload
