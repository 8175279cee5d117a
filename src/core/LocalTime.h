#pragma once
// Local date and time with the field layout the records and log lines use, and the clock that
// every protocol time goes through, so tests can set the date and drive time directly.
#include <cstdint>

struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;

  bool IsSet() const { return year != 0; }
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The host's local time.
class SystemClock : public Clock {
 public:
  LocalTime Now() const override;
};

// A clock that tests set by hand.
class ManualClock : public Clock {
 public:
  explicit ManualClock(LocalTime now) : now_(now) {}
  LocalTime Now() const override { return now_; }
  void Set(LocalTime now) { now_ = now; }

 private:
  LocalTime now_;
};
