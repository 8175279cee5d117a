#pragma once
// Command-line options of the network server stand-in.
#include <optional>
#include <string>
#include <vector>

#include "tools/NetServerProtocol.h"

namespace netserver {

inline constexpr double kMaxDuration = 86400;
inline constexpr size_t kMaxStreamFile = 64u << 20;

// What a rover connection receives.
enum class Payload {
  Records,  // load-tool records (tools/LoadRecord.h), see RecordSource
  File,     // the bytes of a recorded file, looping
};

struct Options {
  std::string host = "127.0.0.1";
  int port = 6800;  // 0: a free port
  std::vector<MountPoint> mounts{{"UPSTREAM1", 1, "RTCM 3.2 upstream"}};
  std::string serverName = "KAVRONET";
  std::string secondText = "1";
  std::optional<Range> range;
  // Sent on every link connection once each statusEvery seconds, in this order; default one base
  // named after the first mountpoint.
  std::vector<Status> statuses;
  double statusEvery = 1;  // 0: no status lines
  Payload payload = Payload::Records;
  std::string streamFile;
  double rate = 2000;  // bytes per second per rover connection
  int chunk = 200;     // bytes per write of the file; record size
  double duration = 600;
  int maxConnections = 4096;
  bool logGga = false;
};

enum class ParseResult { Run, Help, Error };

// Reads "--name value" / "--name=value" / "--flag" arguments (without the program name); checks
// ranges, the loopback host and that every record fits in a line. error says what is wrong.
ParseResult ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);
std::string HelpText();

// The bytes of a recorded stream file (1 byte to kMaxStreamFile); nothing with error set.
std::optional<std::string> ReadStreamFile(const std::string& path, std::string& error);

}  // namespace netserver
