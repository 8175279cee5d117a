#include "core/WriteFailures.h"

bool WriteFailures::First(const std::string& file, const LocalTime& date) {
  const int day = date.year * 10000 + date.month * 100 + date.day;
  // Only the current day is kept: the set holds no more names than files written in one day.
  if (day != day_) {
    failed_.clear();
    day_ = day;
  }
  return failed_.insert(file).second;
}
