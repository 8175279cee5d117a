#pragma once
// Notifications from the caster to the operator's monitor. Every method is a message of the main
// frame; the default implementation ignores it, except log lines, which go to standard output
// until the output log takes them.
#include <cstdint>
#include <string>

#include "core/LocalTime.h"
#include "gnss/DecoderMonitor.h"

struct ClientEntry;

// One output-log line: a second text (usually a user name), the line and its colour.
struct LogRecord {
  std::string name;
  std::string text;
  int level = 0;
};

// Figures of the statistics strip.
struct Statistics {
  LocalTime startTime;
  LocalTime stopTime;  // set while the service is stopped: the running time stands still
  int accountCount = 0;
  int activeAccounts = 0;
  int usersOnline = 0;
  int basesOnline = 0;
  double fixRate = 0.0;
};

class MonitorEvents : public DecoderMonitor {
 public:
  virtual ~MonitorEvents() = default;
  // 1526: one output-log line.
  virtual void OnLogLine(const LogRecord& record);
  // 1527: connection grid (added, removed, counters changed) for an entry.
  // The grid marks the entry as refreshed (gridRefreshDue) and last seen (disconnectTime).
  virtual void OnGrid(int /*code*/, ClientEntry& /*entry*/) {}
  // 1525 (workspace tree) and 1529 (map and station) come from DecoderMonitor.
  // 1531: statistics refresh.
  virtual void OnStatistics(const Statistics& /*statistics*/) {}
  // Bytes read from a connection, before they are classified (the debug console shows them).
  virtual void OnReceived(uint32_t /*socket*/, const uint8_t* /*bytes*/, size_t /*count*/) {}
  // A message box for the operator (also written as a red log line by the caller).
  virtual void OnNotice(const std::string& /*text*/) {}
  // 3124: the status-bar progress while maps load; value for the numeric codes, text for the others.
  virtual void OnProgress(int /*code*/, int /*value*/, const std::string& /*text*/) {}
};
