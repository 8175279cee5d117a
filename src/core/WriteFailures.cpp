#include "core/WriteFailures.h"

namespace {

int SecondOfDay(const LocalTime& time) { return (time.hour * 60 + time.minute) * 60 + time.second; }

}  // namespace

bool WriteFailures::First(const std::string& file, const LocalTime& date) {
  const int day = date.year * 10000 + date.month * 100 + date.day;
  // Only the current day is kept: the map holds no more names than files written in one day.
  if (day != day_) {
    failed_.clear();
    day_ = day;
  }
  return failed_.emplace(file, SecondOfDay(date)).second;
}

void WriteFailures::Succeeded(const std::string& file, const LocalTime& now) {
  const auto it = failed_.find(file);
  if (it == failed_.end()) return;
  const int day = now.year * 10000 + now.month * 100 + now.day;
  if (day != day_ || SecondOfDay(now) - it->second >= kRenewAfterSeconds) failed_.erase(it);
}
