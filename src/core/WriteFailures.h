#pragma once
// Which files failed to be written on which day, so that a full disk gives one report per file and
// day instead of one per write.
#include <string>
#include <unordered_set>

#include "core/LocalTime.h"

class WriteFailures {
 public:
  // Notes a failed write of a file on a date; true when it is the first for that file and date, so
  // that the caller reports it.
  bool First(const std::string& file, const LocalTime& date);
  // Notes a successful write: a later failure of the file is reported again.
  void Succeeded(const std::string& file) { failed_.erase(file); }

 private:
  int day_ = 0;  // yyyymmdd of the files in failed_
  std::unordered_set<std::string> failed_;
};
