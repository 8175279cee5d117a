#pragma once
// Which files failed to be written on which day, so that a full disk gives one report per file and
// day instead of one per write.
#include <string>
#include <unordered_map>

#include "core/LocalTime.h"

class WriteFailures {
 public:
  // A success this soon after a reported failure does not renew the report: on a nearly full disk a
  // short line may still fit between two that do not.
  static constexpr int kRenewAfterSeconds = 60;

  // Notes a failed write of a file on a date; true when it is the first for that file and date, so
  // that the caller reports it.
  bool First(const std::string& file, const LocalTime& date);
  // Notes a successful write: a later failure of the file is reported again, once the success came
  // kRenewAfterSeconds or more after the reported failure.
  void Succeeded(const std::string& file, const LocalTime& now);

 private:
  int day_ = 0;                                  // yyyymmdd of the files in failed_
  std::unordered_map<std::string, int> failed_;  // file -> second of the day of its report
};
