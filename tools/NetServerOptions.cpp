// Command-line options of the network server stand-in.
#include "tools/NetServerOptions.h"

#include <boost/asio/ip/address.hpp>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "tools/CommandLine.h"
#include "tools/LoadRecord.h"

namespace netserver {
namespace {

bool ToNumber(const std::string& text, double& value) {
  try {
    size_t used = 0;
    value = std::stod(text, &used);
    return used == text.size() && std::isfinite(value);
  } catch (...) {
    return false;
  }
}

bool ToInteger(const std::string& text, int& value, int low, int high) {
  double number = 0;
  if (!ToNumber(text, number) || number != std::floor(number) || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

// Printable ASCII; `banned` characters excluded.
bool Printable(const std::string& text, const char* banned) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E || std::string_view(banned).find(c) != std::string_view::npos) return false;
  }
  return true;
}

bool Name(const std::string& text) { return !text.empty() && Printable(text, ", "); }

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

// NAME:FORMAT:DESCRIPTION (the description may hold ":" and ",").
bool ParseMount(const std::string& text, MountPoint& mount) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return false;
  mount.name = text.substr(0, first);
  mount.description = text.substr(second + 1);
  return Name(mount.name) && mount.name.find(':') == std::string::npos &&
         ToInteger(text.substr(first + 1, second - first - 1), mount.formatIndex, 0, 2) &&
         Printable(mount.description, "");
}

// NAME,LAT,LON starting at parts[at].
bool ParseStation(const std::vector<std::string>& parts, size_t at, Station& station) {
  station.name = parts[at];
  return Name(station.name) && ToNumber(parts[at + 1], station.latitude) &&
         std::fabs(station.latitude) <= 90 && ToNumber(parts[at + 2], station.longitude) &&
         std::fabs(station.longitude) <= 180;
}

bool ParseRange(const std::string& text, Range& range) {
  const auto parts = SplitAt(text, ',');
  if (parts.size() != 4 && parts.size() != 5) return false;
  double* const targets[] = {&range.latFrom, &range.latTo, &range.lonFrom, &range.lonTo};
  for (size_t i = 0; i < 4; ++i) {
    if (!ToNumber(parts[i], *targets[i]) || std::fabs(*targets[i]) > (i < 2 ? 90 : 180)) return false;
  }
  if (parts.size() == 5 && !ToInteger(parts[4], range.version, 0, 999999999)) return false;
  return range.latFrom <= range.latTo && range.lonFrom <= range.lonTo;
}

}  // namespace

std::string HelpText() {
  return R"(net_server: plays one upstream network server on one loopback TCP port, for the caster's
server links. It stops by itself after --duration seconds, or at SIGTERM / SIGINT (exit status 0).

A connection whose first "VORAN," line is "VORAN,KAVOROSERVER,<build>,<slot>" is a link: it gets the
MOUNT lines, MOUNTEND, RANGE (when set) and a status line for every --base / --line at once and then
every --status-every seconds. A connection whose first such line is "VORAN,GETMODE,..." is a rover:
it gets the stream until it closes. Lines not starting "VORAN," are ignored; silent connections stay.

  --host ADDR            loopback address to listen on (default 127.0.0.1; others are refused)
  --port N               port (default 6800); 0 picks a free one
  --mount NAME:FORMAT:DESC   a mountpoint, repeatable; FORMAT 0 RTCM 2.3, 1 RTCM 3.2, 2 CMR
                         (default UPSTREAM1:1:RTCM 3.2 upstream)
  --server-name TEXT     first field of MOUNTEND (default KAVRONET)
  --second-text TEXT     second field of MOUNTEND (default 1)
  --range LAT1,LAT2,LON1,LON2[,VERSION]   degrees, VERSION default 140818 (default: no RANGE line,
                         the caster takes the server as covering everywhere)
  --base NAME,LAT,LON    a BASE status line, degrees, repeatable
  --line NAME1,LAT1,LON1,NAME2,LAT2,LON2   a LINE status line, repeatable
                         (default: one base named after the first mountpoint at 48.1173,11.516667)
  --status-every S       seconds between status rounds, 0 = none (default 1)
  --records              rovers get load-tool records (the default): record size --chunk, source
                         index of the mountpoint named in GETMODE, sequence from 0 per connection
  --stream FILE          rovers get FILE in chunks of --chunk bytes, looping
  --rate BYTES           stream bytes per second per rover (default 2000)
  --chunk BYTES          bytes per write / record size, 32..65536 (default 200)
  --duration S           stop after S seconds, at most 86400 (default 600)
  --max-connections N    connections open at once; more are closed at once (default 4096)
  --log-gga              log every GGA sentence rovers send
  --help                 this text

Output, one line per event, flushed: "LISTENING <port>" first, then "#<connection> <EVENT> <text>"
(OPEN, LINK, GETMODE, GGA, WARN, RECV, REFUSED, CLOSE) and "STOP <reason>" last.
Exit status: 0 after the duration or a signal; 1 when the port cannot be opened; 2 for bad options.
)";
}

ParseResult ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  using toolcli::Setter;
  auto number = [](double& target, double low, double high) -> Setter {
    return [&target, low, high](const std::string& text) {
      double value = 0;
      if (!ToNumber(text, value) || value < low || value > high) return false;
      target = value;
      return true;
    };
  };
  auto integer = [](int& target, int low, int high) -> Setter {
    return [&target, low, high](const std::string& text) { return ToInteger(text, target, low, high); };
  };
  auto field = [](std::string& target) -> Setter {
    return [&target](const std::string& text) {
      target = text;
      return Printable(text, ",");
    };
  };
  std::vector<MountPoint> mounts;
  bool records = false;
  const std::map<std::string, Setter> valued = {
      {"host", [&](const std::string& text) { return (options.host = text, true); }},
      {"port", integer(options.port, 0, 65535)},
      {"mount",
       [&](const std::string& text) {
         MountPoint mount;
         return ParseMount(text, mount) && (mounts.push_back(mount), true);
       }},
      {"server-name", field(options.serverName)},
      {"second-text", field(options.secondText)},
      {"range",
       [&](const std::string& text) {
         Range range;
         return ParseRange(text, range) && (options.range = range, true);
       }},
      {"base",
       [&](const std::string& text) {
         const auto parts = SplitAt(text, ',');
         Status status;
         return parts.size() == 3 && ParseStation(parts, 0, status.first) &&
                (options.statuses.push_back(status), true);
       }},
      {"line",
       [&](const std::string& text) {
         const auto parts = SplitAt(text, ',');
         Status status;
         status.second.emplace();
         return parts.size() == 6 && ParseStation(parts, 0, status.first) &&
                ParseStation(parts, 3, *status.second) && (options.statuses.push_back(status), true);
       }},
      {"status-every", number(options.statusEvery, 0, 3600)},
      {"stream",
       [&](const std::string& text) {
         options.payload = Payload::File;
         options.streamFile = text;
         return !text.empty();
       }},
      {"rate", number(options.rate, 1, 1e9)},
      {"chunk", integer(options.chunk, static_cast<int>(ntripload::kRecordHeaderSize),
                        static_cast<int>(ntripload::kMaxRecordSize))},
      {"duration", number(options.duration, 0.01, kMaxDuration)},
      {"max-connections", integer(options.maxConnections, 1, 100000)},
  };
  const std::map<std::string, bool*> flags = {{"records", &records}, {"log-gga", &options.logGga}};
  switch (toolcli::ReadArguments(args, valued, flags, error)) {
    case toolcli::Parsed::kHelp:
      return ParseResult::Help;
    case toolcli::Parsed::kError:
      return ParseResult::Error;
    case toolcli::Parsed::kOk:
      break;
  }
  if (records && options.payload == Payload::File) {
    error = "--records and --stream exclude each other";
    return ParseResult::Error;
  }
  if (!mounts.empty()) options.mounts = mounts;
  if (options.statuses.empty())
    options.statuses.push_back({{options.mounts[0].name, 48.1173, 11.516667}, {}});
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(options.host, ec);
  if (ec || !address.is_loopback()) {
    error = "--host must be a loopback address: " + options.host;
    return ParseResult::Error;
  }
  bool fit = MountEndRecord(options.serverName, options.secondText).has_value();
  for (const auto& mount : options.mounts) fit = fit && MountRecord(mount);
  for (const auto& status : options.statuses) fit = fit && StatusRecord(status);
  if (!fit) {
    error = "a link line would be longer than " + std::to_string(kMaxLine) + " bytes";
    return ParseResult::Error;
  }
  return ParseResult::Run;
}

std::optional<std::string> ReadStreamFile(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  std::string bytes;
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    bytes.append(block, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxStreamFile) {
      error = path + " is larger than " + std::to_string(kMaxStreamFile) + " bytes";
      return std::nullopt;
    }
  }
  if (bytes.empty()) {
    error = path + " is empty";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace netserver
