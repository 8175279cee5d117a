#pragma once
// The one-second tick: the test base's line, the peak of connections, server-link reconnects, the
// 31-second report, and the close of one stale or failing connection per tick.
#include <functional>
#include <string>

class CKavroGyBl;

// The line the test base sends its rovers each second, numbered 00 to 59.
std::string TestLine(int counter);

class Housekeeping {
 public:
  explicit Housekeeping(CKavroGyBl& gybl) : gybl_(gybl) {}

  // One tick; does nothing while a previous tick still runs.
  void OnTick();

  // The report of the upstream network, run every 31 ticks before the statistics refresh.
  void SetUpstreamReport(std::function<void()> report) { upstreamReport_ = std::move(report); }

  int tickCounter = 0;  // ticks since the last 31-tick report
  int testCounter = 0;  // number of the last test line

 private:
  void SendTestLine();
  void RetryLinks();
  // The first entry in key order that must close, and its reason; false when none.
  bool FindStale(uint32_t& socket, int& reason);

  CKavroGyBl& gybl_;
  bool running_ = false;
  std::function<void()> upstreamReport_;
};
