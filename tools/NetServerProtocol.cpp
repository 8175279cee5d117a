#include "tools/NetServerProtocol.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace netserver {
namespace {

constexpr std::string_view kVoran = "VORAN,";

bool StartsWith(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }

std::optional<std::string> Line(std::string body) {
  body += "\r\n";
  if (body.size() > kMaxLine) return std::nullopt;
  return body;
}

// The shortest text of at most 9 decimals: 30 -> "30", -12.5 -> "-12.5".
std::string Degrees(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9f", value);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out == "-0" ? "0" : out;
}

std::string Radians(double degrees) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10f", degrees * std::numbers::pi / 180.0);
  return text;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

bool Digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "[-]digits.<decimals digits>" into value.
bool Fixed(std::string_view text, int decimals, double& value) {
  const std::string_view unsigned_ = StartsWith(text, "-") ? text.substr(1) : text;
  const size_t dot = unsigned_.find('.');
  if (dot == std::string_view::npos || !Digits(unsigned_.substr(0, dot)) ||
      !Digits(unsigned_.substr(dot + 1)) || unsigned_.size() - dot - 1 != static_cast<size_t>(decimals)) {
    return false;
  }
  value = std::strtod(std::string(text).c_str(), nullptr);
  return true;
}

bool Flag(std::string_view text, bool& value) {
  if (text != "0" && text != "1") return false;
  value = text == "1";
  return true;
}

}  // namespace

std::optional<std::string> MountRecord(const MountPoint& mount) {
  std::string description = mount.description;
  for (char& c : description) {
    if (c == ',') c = '_';
  }
  return Line("VORAN,MOUNT," + mount.name + "," + std::to_string(mount.formatIndex) + "," + description);
}

std::optional<std::string> MountEndRecord(std::string_view serverName, std::string_view secondText) {
  return Line("VORAN,MOUNTEND," + std::string(serverName) + "," + std::string(secondText));
}

std::optional<std::string> RangeRecord(const Range& range) {
  return Line("VORAN,RANGE," + Degrees(range.latFrom) + "," + Degrees(range.latTo) + "," +
              Degrees(range.lonFrom) + "," + Degrees(range.lonTo) + "," + std::to_string(range.version));
}

std::optional<std::string> StatusRecord(const Status& status) {
  auto station = [](const Station& s) {
    return s.name + "," + Radians(s.latitude) + "," + Radians(s.longitude) + ",";
  };
  if (status.second) return Line("VORAN,LINE," + station(status.first) + station(*status.second) + "OK");
  return Line("VORAN,BASE," + station(status.first) + "OK");
}

LineKind Classify(std::string_view line) {
  if (!StartsWith(line, kVoran)) return LineKind::Ignored;
  if (StartsWith(line, "VORAN,KAVOROSERVER,")) return LineKind::Link;
  if (StartsWith(line, "VORAN,GETMODE,")) return LineKind::Rover;
  return LineKind::Other;
}

std::optional<LinkGreeting> ParseLinkGreeting(std::string_view line, std::string& problem) {
  const auto f = Split(line);
  if (f.size() != 4 || f[0] != "VORAN" || f[1] != "KAVOROSERVER") {
    problem = "expected 4 fields VORAN,KAVOROSERVER,<build>,<slot>";
    return std::nullopt;
  }
  if (!Digits(f[2]) || f[2].size() > 12) {
    problem = "build is not a number";
    return std::nullopt;
  }
  if (!Digits(f[3]) || f[3].size() > 2 || std::stoi(std::string(f[3])) >= kLinkSlots) {
    problem = "slot is not 0..15";
    return std::nullopt;
  }
  return LinkGreeting{std::stoll(std::string(f[2])), std::stoi(std::string(f[3]))};
}

std::optional<GetMode> ParseGetMode(std::string_view line, std::string& problem) {
  const auto f = Split(line);
  if (f.size() != 14 || f[0] != "VORAN" || f[1] != "GETMODE") {
    problem = "expected 14 fields, found " + std::to_string(f.size());
    return std::nullopt;
  }
  GetMode mode;
  mode.mount = f[2];
  mode.user = f[3];
  if (mode.mount.empty()) {
    problem = "empty mountpoint";
    return std::nullopt;
  }
  if (!Flag(f[4], mode.useSeven) || f[5] != "0" || !Flag(f[6], mode.useUndulation)) {
    problem = "flags are not <0|1>,0,<0|1>";
    return std::nullopt;
  }
  static constexpr const char* kNames[] = {"DX", "DY", "DZ", "RX", "RY", "RZ", "SF"};
  double* const targets[] = {&mode.shift[0],    &mode.shift[1],    &mode.shift[2], &mode.rotation[0],
                             &mode.rotation[1], &mode.rotation[2], &mode.scale};
  for (int i = 0; i < 7; ++i) {
    const int decimals = i < 3 ? 5 : 12;
    if (!Fixed(f[7 + i], decimals, *targets[i])) {
      problem = std::string(kNames[i]) + " is not a number with " + std::to_string(decimals) + " decimals";
      return std::nullopt;
    }
  }
  return mode;
}

std::optional<std::string> TakeLine(std::string& inbox) {
  const size_t end = inbox.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = inbox.substr(0, end);
  inbox.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool IsGga(std::string_view line) {
  return line.size() >= 7 && line[0] == '$' && line.substr(3, 4) == "GGA,";
}

}  // namespace netserver
