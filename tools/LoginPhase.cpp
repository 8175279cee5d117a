#include "tools/LoginPhase.h"

namespace ntripload {

void LoginPhase::RequestWritten(Clock::time_point when) {
  if (!requested_ || when < firstRequest_) firstRequest_ = when;
  requested_ = true;
}

void LoginPhase::Answered(Clock::time_point written, Clock::time_point read, bool accepted) {
  ++(accepted ? counts_.accepted : counts_.refused);
  ++counts_.answers;
  if (read > lastAnswer_) lastAnswer_ = read;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(read - written).count();
  answerTimes_.Add(micros > 0 ? static_cast<uint64_t>(micros) : 0);
}

void LoginPhase::Ended(LoginOutcome outcome) {
  switch (outcome) {
    case LoginOutcome::Accepted:
    case LoginOutcome::Refused:
      break;  // answers come through Answered
    case LoginOutcome::NoAnswer:
      ++counts_.noAnswer;
      break;
    case LoginOutcome::TimedOut:
      ++counts_.timedOut;
      break;
    case LoginOutcome::ConnectFailed:
      ++counts_.connectFailed;
      break;
  }
}

LoginReport LoginPhase::Summary() const {
  LoginReport report = counts_;
  if (report.answers == 0) return report;
  report.seconds = std::chrono::duration<double>(lastAnswer_ - firstRequest_).count();
  if (report.seconds > 0) report.answersPerSecond = static_cast<double>(report.answers) / report.seconds;
  report.answerP50Ms = static_cast<double>(answerTimes_.Percentile(0.50)) / 1000.0;
  report.answerP99Ms = static_cast<double>(answerTimes_.Percentile(0.99)) / 1000.0;
  report.answerMaxMs = static_cast<double>(answerTimes_.max()) / 1000.0;
  return report;
}

}  // namespace ntripload
