#include "ui/MetricsText.h"

#include <cinttypes>

#include "core/StrFormat.h"

namespace {

// A label value with backslash, double quote and line feed escaped.
std::string LabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

class Page {
 public:
  void Head(const char* name, const char* type, const char* help) {
    text_ += StrFormat("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  }
  void Sample(const char* name, uint64_t value) { text_ += StrFormat("%s %" PRIu64 "\n", name, value); }
  void Sample(const char* name, const char* label, std::string_view labelValue, uint64_t value) {
    text_ += StrFormat("%s{%s=\"%s\"} %" PRIu64 "\n", name, label, LabelValue(labelValue).c_str(), value);
  }
  void One(const char* name, const char* type, const char* help, uint64_t value) {
    Head(name, type, help);
    Sample(name, value);
  }
  void Labelled(const char* name, const char* help, const char* label,
                const std::vector<std::pair<std::string, int>>& values) {
    Head(name, "gauge", help);
    for (const auto& [value, count] : values) Sample(name, label, value, static_cast<uint64_t>(count));
  }
  void Histogram(const char* name, const char* help, const LatencyHistogram& histogram) {
    Head(name, "histogram", help);
    uint64_t cumulative = 0;
    const auto& bounds = LatencyHistogram::kBounds;
    for (size_t i = 0; i <= bounds.size(); ++i) {
      cumulative += histogram.Count(i);
      const std::string le = i < bounds.size() ? SecondsText(static_cast<uint64_t>(bounds[i])) : "+Inf";
      text_ += StrFormat("%s_bucket{le=\"%s\"} %" PRIu64 "\n", name, le.c_str(), cumulative);
    }
    text_ += StrFormat("%s_sum %s\n%s_count %" PRIu64 "\n", name,
                       SecondsText(histogram.SumNanoseconds()).c_str(), name, cumulative);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string_view LoginResultLabel(LoginResult result) {
  switch (result) {
    case LoginResult::kAccepted:
      return "accepted";
    case LoginResult::kNoCredentials:
      return "no_credentials";
    case LoginResult::kBadCredentials:
      return "bad_credentials";
    case LoginResult::kTimeExceeded:
      return "time_exceeded";
    case LoginResult::kDateExceeded:
      return "date_exceeded";
    case LoginResult::kServiceRestricted:
      return "service_restricted";
    case LoginResult::kSerialMismatch:
      return "serial_mismatch";
    case LoginResult::kBadPassword:
      return "bad_password";
    case LoginResult::kUnknownUser:
      return "unknown_user";
    case LoginResult::kAlreadyConnected:
      return "already_connected";
    case LoginResult::kUnknownMountpoint:
      return "unknown_mountpoint";
    case LoginResult::kUserRepeated:
      return "user_repeated";
    case LoginResult::kCount:
      break;
  }
  return "other";
}

std::string SecondsText(uint64_t nanoseconds) {
  std::string text =
      StrFormat("%" PRIu64 ".%09" PRIu64, nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string MetricsText(const MetricsSnapshot& s) {
  const Counters& c = s.counters;
  Page page;
  page.One("kavro_service_running", "gauge", "1 while the caster service runs, else 0.",
           s.serviceRunning ? 1 : 0);
  page.Labelled("kavro_connections", "Connections in the client table by client type.", "type",
                s.connections);
  page.Labelled("kavro_bases", "Bases online by stream format.", "format", s.bases);
  page.One("kavro_received_bytes_total", "counter", "Bytes read from client connections.", c.bytesReceived);
  page.One("kavro_sent_bytes_total", "counter", "Bytes written to client connections or queued for them.",
           c.bytesSent);
  page.Histogram("kavro_relay_latency_seconds",
                 "Time from the read of a base's chunk to its queueing for the last rover it feeds.",
                 c.relayLatency);
  page.One("kavro_dropped_chunks_total", "counter", "Chunks dropped whole because a write queue was full.",
           c.chunksDropped);
  page.One("kavro_send_errors_total", "counter", "Sends that failed with a hard error.", c.sendErrors);
  page.Head("kavro_logins_total", "counter", "Logins of sources, rovers and devices by the result replied.");
  for (size_t i = 0; i < c.logins.size(); ++i) {
    page.Sample("kavro_logins_total", "result", LoginResultLabel(static_cast<LoginResult>(i)), c.logins[i]);
  }
  page.One("kavro_db_query_queue_length", "gauge",
           "Server database queries waiting for or running on the worker.", s.dbQueryQueue);
  page.One("kavro_db_query_failures_total", "counter", "Server database queries that failed or timed out.",
           s.dbQueryFailures);
  page.One("kavro_db_write_queue_length", "gauge", "Server database writes waiting in the queue.",
           s.dbWriteQueue);
  page.One("kavro_db_dropped_positions_total", "counter", "Positions dropped to bound the write queue.",
           s.dbPositionsDropped);
  page.One("kavro_link_slots_configured", "gauge", "Server link slots configured.",
           static_cast<uint64_t>(s.linkSlotsConfigured));
  page.One("kavro_link_slots_up", "gauge", "Server link slots connected.",
           static_cast<uint64_t>(s.linkSlotsUp));
  return page.Take();
}
