#pragma once
// The output log: every log line goes to the daily file LOG/KavroServerYYYYMMDD.txt and, unless it
// is file-only, into the list of rows that the monitor shows.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/MonitorEvents.h"
#include "core/LocalTime.h"
#include "core/WriteFailures.h"

// One listed line: the "Time", "Name" and "Info" cells and the text colour (0x00BBGGRR, 0 default).
struct LogRow {
  std::string timeText;
  std::string name;
  std::string info;
  int colour = 0;
  uint64_t sequence = 0;  // 1 for the first row ever listed, counting on across clears
};

// "%04d/%02d/%02d %2d:%2d:%2d " (with the trailing space) of a local time.
std::string LogTimeText(const LocalTime& time);
// "KavroServer%04d%02d%02d.txt" of the local date.
std::string LogFileName(const LocalTime& time);

class OutputLog {
 public:
  // More rows than this are cleared when the next line arrives, so at most kMaxRows + 1 are listed.
  static constexpr size_t kMaxRows = 100;

  // What one Append did to the list: cleared it first, and/or added a row (null for file-only lines).
  struct Change {
    bool cleared = false;
    const LogRow* added = nullptr;
  };
  using Listener = std::function<void(const Change& change)>;

  // logDirectory: the daily files' directory ("/" appended when missing); copyTo: a stream that
  // receives every file line as well (standard output in the binary), or null. A daily file that
  // cannot be written is reported once per day to copyTo (standard error when null).
  OutputLog(const Clock& clock, std::string logDirectory, std::FILE* copyTo);
  ~OutputLog();
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  // Handles one log line (message 1526).
  void Append(const LogRecord& record);

  const std::vector<LogRow>& rows() const { return rows_; }
  const std::string& logDirectory() const { return logDirectory_; }
  // Called after each Append that changed the list.
  void SetListener(Listener listener) { listener_ = std::move(listener); }

 private:
  const Clock& clock_;
  std::string logDirectory_;
  std::FILE* copyTo_;
  std::vector<LogRow> rows_;
  uint64_t lastSequence_ = 0;
  Listener listener_;
  WriteFailures failures_;
  // The daily file stays open between lines; it is opened anew for a new date, after a failed write,
  // and when the file at its path is no longer the open one (moved away), checked once a second.
  std::FILE* OpenDaily(const std::string& path, const LocalTime& now);
  void CloseDaily();
  std::FILE* file_ = nullptr;
  std::string filePath_;
  LocalTime checkedAt_;
};
