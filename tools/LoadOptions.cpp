// Command-line options and the summary texts of the load tool.
#include <boost/asio/ip/address.hpp>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "tools/CommandLine.h"
#include "tools/LoadEngine.h"
#include "tools/Rtcm3Frame.h"

namespace ntripload {
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

// The value with the given decimals; "n/a" (or JSON null) for NaN.
std::string Fixed(double value, int decimals, const char* undefined = "n/a") {
  if (std::isnan(value)) return undefined;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string RoleJson(const RoleCounts& c) {
  std::ostringstream out;
  out << "{\"planned\":" << c.planned << ",\"connected\":" << c.connected << ",\"refused\":" << c.refused
      << ",\"timedOut\":" << c.timedOut << ",\"connectFailed\":" << c.connectFailed
      << ",\"closedEarly\":" << c.closedEarly << "}";
  return out.str();
}

std::string RoleText(const RoleCounts& c) {
  std::ostringstream out;
  out << "planned " << c.planned << ", connected " << c.connected << ", refused " << c.refused
      << ", timed out " << c.timedOut << ", connect failed " << c.connectFailed << ", closed early "
      << c.closedEarly;
  return out.str();
}

std::string LoginText(const LoginReport& l) {
  std::ostringstream out;
  out << "login:   first request to last answer " << Fixed(l.seconds, 3) << " s, "
      << Fixed(l.answersPerSecond, 1) << " answers/s; accepted " << l.accepted << ", refused " << l.refused
      << ", no answer " << l.noAnswer << ", timed out " << l.timedOut << ", connect failed "
      << l.connectFailed << "\n";
  out << "         answer ms: p50 " << Fixed(l.answerP50Ms, 3) << ", p99 " << Fixed(l.answerP99Ms, 3)
      << ", max " << Fixed(l.answerMaxMs, 3) << " (" << l.answers << " answers)\n";
  return out.str();
}

std::string LoginJson(const LoginReport& l) {
  std::ostringstream out;
  out << "{\"seconds\":" << Fixed(l.seconds, 3) << ",\"answers\":" << l.answers
      << ",\"answersPerSecond\":" << Fixed(l.answersPerSecond, 1)
      << ",\"answerMs\":{\"p50\":" << Fixed(l.answerP50Ms, 3) << ",\"p99\":" << Fixed(l.answerP99Ms, 3)
      << ",\"max\":" << Fixed(l.answerMaxMs, 3) << "},\"accepted\":" << l.accepted
      << ",\"refused\":" << l.refused << ",\"noAnswer\":" << l.noAnswer << ",\"timedOut\":" << l.timedOut
      << ",\"connectFailed\":" << l.connectFailed << "}";
  return out.str();
}

double Mib(uint64_t kib) { return static_cast<double>(kib) / 1024.0; }

std::string ProcessText(const ProcessUsage& p) {
  std::ostringstream out;
  out << "process " << p.pid << ": ";
  if (!p.complete) return out.str() + "could not be read during the run\n";
  out << "CPU " << Fixed(p.cpuSeconds, 2) << " s in the " << Fixed(p.windowSeconds, 2) << " s window ("
      << Fixed(p.windowSeconds > 0 ? 100 * p.cpuSeconds / p.windowSeconds : std::nan(""), 1)
      << "% of one core; user " << Fixed(p.userSeconds, 2) << " s), " << Fixed(p.setupCpuSeconds, 2) << " s during the set-up; RSS start "
      << Fixed(Mib(p.rssStartKib), 1) << " MiB, end " << Fixed(Mib(p.rssEndKib), 1) << " MiB, peak "
      << Fixed(Mib(p.peakRssKib), 1) << " MiB\n";
  return out.str();
}

std::string ProcessJson(const ProcessUsage& p) {
  std::ostringstream out;
  out << "{\"pid\":" << p.pid << ",\"complete\":" << (p.complete ? "true" : "false");
  if (p.complete) {
    out << ",\"windowSeconds\":" << Fixed(p.windowSeconds, 3) << ",\"cpuSeconds\":" << Fixed(p.cpuSeconds, 3)
        << ",\"userSeconds\":" << Fixed(p.userSeconds, 3)
        << ",\"setupCpuSeconds\":" << Fixed(p.setupCpuSeconds, 3) << ",\"rssStartKib\":" << p.rssStartKib
        << ",\"rssEndKib\":" << p.rssEndKib << ",\"peakRssKib\":" << p.peakRssKib;
  }
  out << "}";
  return out.str();
}

// The upstream mountpoints separated by ",", as JSON strings when json is set.
std::string UpstreamList(const Options& o, bool json) {
  std::string out;
  for (const auto& name : o.upstreamMounts)
    out += (out.empty() ? "" : ",") + (json ? JsonString(name) : name);
  return out;
}

}  // namespace

std::string HelpText() {
  return R"(ntrip_load: plays NTRIP sources and rovers against a caster on loopback, then reports
delivered bytes, lost or damaged records and latency. It stops by itself.

  --host ADDR            loopback address of the caster (default 127.0.0.1; others are refused)
  --port N               caster port (default 6060)
  --sources N            sources, each on mountpoint PREFIX<i> (default 1); 0 with --mount
  --rovers N             rovers, spread over the mountpoints round robin (default 10)
  --mount-prefix TEXT    mountpoint name prefix (default LOAD)
  --mount NAME[,NAME..]  with --sources 0: rovers read these upstream mountpoints, which the network
                         server stand-in (net_server --records, same --chunk) feeds through the caster;
                         each rover checks its mountpoint's records from sequence 0, sends a GGA right
                         after the caster's answer (with --gga) and the run ends after --duration
                         (--rate and --drain do not apply: the stand-in sets the pace)
  --user PATTERN         rover user name, "%d" becomes the rover's number (default load%d)
  --password PATTERN     rover password, "%d" as above (default load)
  --source-password PW   password of the SOURCE requests (default load)
  --no-slash             sources send "SOURCE pw MNT" (as str2str does) instead of "SOURCE pw /MNT"
  --ntrip2               rovers send HTTP/1.1 requests with "Ntrip-Version: Ntrip/2.0"
  --gga                  rovers send a $GPGGA sentence every second
  --lat DEG --lon DEG --height M   GGA position (default 48.1173 11.516667 545.4)
  --rate BYTES           stream bytes per second per source, RTCM 3 frames included (default 2000)
  --chunk BYTES          bytes per record, 32..65536, with --rtcm3 at most 1021 (default 200)
  --stagger              source i starts i/N of a record interval late, so the sources' writes are
                         spread out instead of arriving together (as bases on one epoch do)
  --rtcm3                sources wrap each record in one RTCM 3 frame (message 4095, CRC-24Q): the
                         frame is the record plus 8 bytes; rovers check each frame's CRC (a damaged
                         frame is a corrupt record) and check the records inside as without it
  --duration S           seconds of streaming, at most 3600 (default 10)
  --connect-timeout S    per connection: connect, request and answer (default 10)
  --drain S              wait after the sources stop for the last records (default 2)
  --parallel N           connections being set up at once (default 64)
  --min-ratio R          delivered ratio needed for exit status 0 (default 1.0)
  --pid PID              sample that process (the caster): CPU seconds and resident memory from the
                         moment every connection is set up to the end of the drain, and peak memory
  --json                 print the summary as JSON
  --help                 this text

Exit status: 0 when every source and rover connected, the delivered ratio reached --min-ratio and no
record was corrupt or out of order; 1 otherwise; 2 for bad options.
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
    return [&target, low, high](const std::string& text) {
      double value = 0;
      if (!ToNumber(text, value) || value != std::floor(value) || value < low || value > high) return false;
      target = static_cast<int>(value);
      return true;
    };
  };
  auto text = [](std::string& target) -> Setter {
    return [&target](const std::string& value) {
      target = value;
      return true;
    };
  };
  const std::map<std::string, Setter> valued = {
      {"host", text(options.host)},
      {"port", integer(options.port, 1, 65535)},
      {"sources", integer(options.sources, 0, 10000)},
      {"rovers", integer(options.rovers, 0, 100000)},
      {"mount-prefix", text(options.mountPrefix)},
      {"mount",
       [&options](const std::string& value) {
         if (value.empty() || value.back() == ',') return false;
         std::istringstream in(value);
         for (std::string name; std::getline(in, name, ',');) {
           if (name.empty() || name.find_first_of(" /") != std::string::npos) return false;
           options.upstreamMounts.push_back(name);
         }
         return true;
       }},
      {"user", text(options.user)},
      {"password", text(options.password)},
      {"source-password", text(options.sourcePassword)},
      {"lat", number(options.position.latitude, -90, 90)},
      {"lon", number(options.position.longitude, -180, 180)},
      {"height", number(options.position.height, -10000, 100000)},
      {"rate", number(options.rate, 1, 1e9)},
      {"chunk",
       integer(options.chunk, static_cast<int>(kRecordHeaderSize), static_cast<int>(kMaxRecordSize))},
      {"duration", number(options.duration, 0, kMaxDuration)},
      {"connect-timeout", number(options.connectTimeout, 0.01, 600)},
      {"drain", number(options.drain, 0, 60)},
      {"parallel", integer(options.parallel, 1, 100000)},
      {"min-ratio", number(options.minRatio, 0, 1)},
      {"pid", integer(options.pid, 1, 1 << 30)},
  };
  bool noSlash = false;
  const std::map<std::string, bool*> flags = {{"no-slash", &noSlash},
                                              {"ntrip2", &options.ntrip2},
                                              {"gga", &options.gga},
                                              {"json", &options.json},
                                              {"rtcm3", &options.rtcm3}, {"stagger", &options.stagger}};
  switch (toolcli::ReadArguments(args, valued, flags, error)) {
    case toolcli::Parsed::kHelp:
      return ParseResult::Help;
    case toolcli::Parsed::kError:
      return ParseResult::Error;
    case toolcli::Parsed::kOk:
      break;
  }
  options.sourceSlash = options.sourceSlash && !noSlash;
  if ((options.sources == 0) != !options.upstreamMounts.empty()) {
    error = "--sources 0 and --mount go together";
    return ParseResult::Error;
  }
  if (options.rtcm3 && options.chunk > static_cast<int>(kRtcm3MaxRecord)) {
    error = "--chunk " + std::to_string(options.chunk) +
            " does not fit one RTCM 3 frame: with --rtcm3 a record "
            "holds at most " +
            std::to_string(kRtcm3MaxRecord) + " bytes";
    return ParseResult::Error;
  }
  if (options.rtcm3 && options.sources == 0) {
    error = "--rtcm3 needs the tool's own sources (upstream mountpoints carry plain records)";
    return ParseResult::Error;
  }
  if (options.pid != 0 && !SampleProcess(options.pid).ok) {
    error = "--pid " + std::to_string(options.pid) + ": no process whose /proc files can be read";
    return ParseResult::Error;
  }
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(options.host, ec);
  if (ec || !address.is_loopback()) {
    error = "--host must be a loopback address: " + options.host;
    return ParseResult::Error;
  }
  return ParseResult::Run;
}

std::string FormatText(const Report& r, const Options& o) {
  std::ostringstream out;
  out << "ntrip_load " << o.host << ":" << o.port << ": " << o.sources << " source(s) -> " << o.rovers
      << " rover(s), " << Fixed(o.duration, 1) << " s at " << Fixed(o.rate, 0) << " B/s, chunk " << o.chunk
      << " B" << (o.rtcm3 ? " in RTCM 3 frames" : "") << (o.ntrip2 ? ", NTRIP 2" : "")
      << (o.gga ? ", GGA" : "") << "\n";
  if (!o.upstreamMounts.empty()) {
    out << "upstream: mountpoints " << UpstreamList(o, false) << "; rovers without data "
        << r.roversWithoutData << "\n";
  }
  out << "sources: " << RoleText(r.sources) << "\n";
  out << "         sent " << r.recordsSent << " records, " << r.bytesSent << " bytes\n";
  out << "rovers:  " << RoleText(r.rovers) << "\n";
  out << "         delivered " << r.stream.records << " of " << r.recordsExpected << " records, "
      << r.bytesDelivered << " bytes; GGA sent " << r.ggaSent << "\n";
  out << LoginText(r.login);
  out << "stream:  missing " << r.stream.missing << ", out of order " << r.stream.outOfOrder << ", corrupt "
      << r.stream.corrupt << ", cuts " << r.stream.cuts << ", skipped bytes " << r.stream.skippedBytes
      << "\n";
  out << "delivered ratio " << Fixed(r.deliveredRatio, 6) << " over " << Fixed(r.streamSeconds, 2) << " s\n";
  out << "latency ms: p50 " << Fixed(r.latencyP50Ms, 3) << ", p99 " << Fixed(r.latencyP99Ms, 3) << ", max "
      << Fixed(r.latencyMaxMs, 3) << " (" << r.latencySamples << " records)\n";
  if (r.process.pid != 0) out << ProcessText(r.process);
  if (r.errors.empty()) {
    out << "errors: none\n";
  } else {
    for (const auto& [message, count] : r.errors) out << "error x" << count << ": " << message << "\n";
  }
  out << "result: " << (Passed(r, o) ? "PASS" : "FAIL") << "\n";
  return out.str();
}

std::string FormatJson(const Report& r, const Options& o) {
  std::ostringstream out;
  out << "{\"host\":" << JsonString(o.host) << ",\"port\":" << o.port
      << ",\"duration\":" << Fixed(o.duration, 3) << ",\"rate\":" << Fixed(o.rate, 3)
      << ",\"chunk\":" << o.chunk << ",\"rtcm3\":" << (o.rtcm3 ? "true" : "false")
      << ",\"sources\":" << RoleJson(r.sources) << ",\"rovers\":" << RoleJson(r.rovers)
      << ",\"recordsSent\":" << r.recordsSent << ",\"bytesSent\":" << r.bytesSent
      << ",\"recordsExpected\":" << r.recordsExpected << ",\"recordsDelivered\":" << r.stream.records
      << ",\"bytesDelivered\":" << r.bytesDelivered << ",\"missing\":" << r.stream.missing
      << ",\"outOfOrder\":" << r.stream.outOfOrder << ",\"corrupt\":" << r.stream.corrupt
      << ",\"cuts\":" << r.stream.cuts << ",\"skippedBytes\":" << r.stream.skippedBytes
      << ",\"ggaSent\":" << r.ggaSent << ",\"deliveredRatio\":" << Fixed(r.deliveredRatio, 6, "null")
      << ",\"streamSeconds\":" << Fixed(r.streamSeconds, 3)
      << ",\"latencyMs\":{\"samples\":" << r.latencySamples << ",\"p50\":" << Fixed(r.latencyP50Ms, 3)
      << ",\"p99\":" << Fixed(r.latencyP99Ms, 3) << ",\"max\":" << Fixed(r.latencyMaxMs, 3) << "}"
      << ",\"login\":" << LoginJson(r.login);
  if (r.process.pid != 0) out << ",\"process\":" << ProcessJson(r.process);
  if (!o.upstreamMounts.empty()) {
    out << ",\"upstream\":{\"mounts\":[" << UpstreamList(o, true)
        << "],\"roversWithoutData\":" << r.roversWithoutData << "}";
  }
  out << ",\"errors\":{";
  bool first = true;
  for (const auto& [message, count] : r.errors) {
    out << (first ? "" : ",") << JsonString(message) << ":" << count;
    first = false;
  }
  out << "},\"passed\":" << (Passed(r, o) ? "true" : "false") << "}\n";
  return out.str();
}

}  // namespace ntripload
