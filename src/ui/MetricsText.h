#pragma once
// The metrics page (GET /metrics): the caster's figures in the Prometheus text exposition format
// 0.0.4. The rendering is a pure function of a snapshot, which MetricsSource gathers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Counters.h"

inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4";

// What the page shows at one moment.
struct MetricsSnapshot {
  Counters counters;
  // Connections by client type and bases by stream format, label value and number, in page order.
  std::vector<std::pair<std::string, int>> connections;
  std::vector<std::pair<std::string, int>> bases;
  bool serviceRunning = false;
  int linkSlotsConfigured = 0;
  int linkSlotsUp = 0;
  // The server database: the query worker's waiting and running work and its failed queries, the
  // write queue and the positions dropped to bound it.
  size_t dbQueryQueue = 0;
  uint64_t dbQueryFailures = 0;
  size_t dbWriteQueue = 0;
  uint64_t dbPositionsDropped = 0;
};

// The label value of a login result ("accepted", "bad_password", ...).
std::string_view LoginResultLabel(LoginResult result);
// Nanoseconds as a decimal number of seconds, without trailing zeros ("0.00005", "1").
std::string SecondsText(uint64_t nanoseconds);
// The page text.
std::string MetricsText(const MetricsSnapshot& snapshot);
