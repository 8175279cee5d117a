#pragma once
// The NTRIP load engine: plays sources and rovers against a caster on loopback for a bounded time
// and reports what was delivered.
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/LoadProtocol.h"
#include "tools/LoadRecord.h"
#include "tools/LoginPhase.h"
#include "tools/ProcessSampler.h"

namespace ntripload {

inline constexpr double kMaxDuration = 3600;

struct Options {
  std::string host = "127.0.0.1";
  int port = 6060;
  int sources = 1;
  int rovers = 10;
  std::string mountPrefix = "LOAD";
  // With sources 0: the rovers read these mountpoints (round robin), fed upstream by the network
  // server stand-in; each checks the records of its mountpoint (MountSource) from sequence 0.
  std::vector<std::string> upstreamMounts;
  std::string user = "load%d";    // "%d" becomes the rover's number
  std::string password = "load";  // "%d" becomes the rover's number
  std::string sourcePassword = "load";
  bool sourceSlash = true;  // "SOURCE pw /MNT"; false: "SOURCE pw MNT"
  bool ntrip2 = false;
  bool gga = false;
  GgaPosition position{48.1173, 11.516667, 545.4};
  double rate = 2000;  // bytes per second per source, of the written stream (frames included)
  int chunk = 200;     // bytes per record
  bool rtcm3 = false;  // each record wrapped in one RTCM 3 frame (message 4095)
  bool stagger = false;  // sources start spread over one record interval instead of together
  int pid = 0;         // a process (the caster) whose CPU time and memory are sampled; 0: none
  double duration = 10;
  double connectTimeout = 10;  // per connection: connect, request and reply
  double drain = 2;            // seconds after the sources stop for the last records to arrive
  int parallel = 64;           // connections being set up at once
  double minRatio = 1.0;
  bool json = false;
};

enum class ParseResult { Run, Help, Error };

// Reads "--name value" / "--name=value" / "--flag" arguments (without the program name).
// Checks ranges, that the host is a loopback address and that "--sources 0" comes with "--mount";
// error says what is wrong.
ParseResult ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);
std::string HelpText();

struct RoleCounts {
  int planned = 0;
  int connected = 0;      // the caster answered OK
  int refused = 0;        // another answer, or closed before answering
  int timedOut = 0;       // no answer within the connect timeout
  int connectFailed = 0;  // the TCP connect failed
  int closedEarly = 0;    // the connection ended before the tool closed it
};

struct Report {
  RoleCounts sources;
  RoleCounts rovers;
  uint64_t recordsSent = 0;
  uint64_t bytesSent = 0;       // stream bytes written by sources
  uint64_t bytesDelivered = 0;  // stream bytes read by rovers after their reply header
  // For each connected rover, the records its source sent; upstream, the records up to the last one
  // it received (what was still on its way at the end is not known).
  uint64_t recordsExpected = 0;
  StreamCounts stream;  // summed over rovers
  uint64_t ggaSent = 0;
  double deliveredRatio = 0;  // records delivered / expected; NaN when nothing was expected
  uint64_t latencySamples = 0;
  double latencyP50Ms = 0;
  double latencyP99Ms = 0;
  double latencyMaxMs = 0;
  double streamSeconds = 0;           // from the first record to the end of the drain
  int roversWithoutData = 0;          // upstream: connected rovers that received no intact record
  std::map<std::string, int> errors;  // message -> occurrences
  LoginReport login;                  // the rovers' requests and answers
  ProcessUsage process;               // with --pid
};

// Runs the load on io (which may carry other work, e.g. a test's caster) until it is over.
Report RunLoad(boost::asio::io_context& io, const Options& options);

// Every source and rover connected, the ratio reached, nothing corrupt or out of order.
bool Passed(const Report& report, const Options& options);
std::string FormatText(const Report& report, const Options& options);
std::string FormatJson(const Report& report, const Options& options);

}  // namespace ntripload
