#include "db/RecordFormat.h"

#include <chrono>

#include "core/StrFormat.h"

namespace {

int64_t DaysOf(const LocalTime& time) {
  const std::chrono::year_month_day date{std::chrono::year(time.year), std::chrono::month(time.month),
                                         std::chrono::day(time.day)};
  return std::chrono::sys_days(date).time_since_epoch().count();
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

int DateNumber(const LocalTime& time) { return time.year * 10000 + time.month * 100 + time.day; }

int64_t SecondsBetween(const LocalTime& from, const LocalTime& to) {
  auto seconds = [](const LocalTime& t) {
    return DaysOf(t) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
  };
  return seconds(to) - seconds(from);
}

std::string RecordTime(const LocalTime& t) {
  return StrFormat("%04d/%02d/%02d_%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string CutText(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  // A UTF-8 character has at most three continuation bytes; text that is not UTF-8 is cut at the limit.
  for (int i = 0; i < 3 && end > 0 && IsContinuation(text[end]); ++i) --end;
  if (IsContinuation(text[end])) end = maxBytes;
  return text.substr(0, end);
}

std::string WholeText(const Ado_Value& value) {
  return value.kind() == Ado_Value::Kind::kText ? value.text() : FieldText(value);
}

const char* BaseModeName(int dataFormat) {
  static constexpr const char* kNames[20] = {
      "", "[RTCA]", "[RTCM23]", "[RTCM30]", "[CMR]", "[RTD]", "[RTCM32-MSM]", "", "", "",
      "", "RTCA",   "RTCM23",   "RTCM30",   "CMR",   "RTD",   "RTCM32-MSM",   "", "", ""};
  return dataFormat >= 0 && dataFormat < 20 ? kNames[dataFormat] : "";
}

std::string ServiceLabels(int deniedMask, bool server) {
  struct Label {
    int bit;
    const char* server;
    const char* local;
  };
  static constexpr Label kLabels[] = {
      {0x200, "DIRECT ", "DIRECT "}, {0x100, "[RTCA] ", "[RTCA] "},     {0x080, "[RTCM23] ", "[RTCM23] "},
      {0x040, "[CMR] ", "[CMR] "},   {0x020, "[RTCM30] ", "[RTCM3X] "}, {0x010, "[RTD] ", "[RTD] "},
      {0x008, "RTCM23 ", "RTCM23 "}, {0x004, "CMR ", "CMR "},           {0x002, "RTCM30 ", "RTCM3X "},
      {0x001, "RTD ", "RTD "},
  };
  std::string labels;
  for (const Label& label : kLabels) {
    if ((deniedMask & label.bit) == 0) labels += server ? label.server : label.local;
  }
  return labels;
}
