#pragma once
// The text lines of a network server link: what the stand-in sends on a caster's link connection
// (mountpoints, their end, the coverage range, base and line status) and what it reads first on a
// connection (the caster's link greeting or a rover's GETMODE line). Fields are separated by ",",
// every line ends "\r\n" and is at most kMaxLine bytes long.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace netserver {

inline constexpr size_t kMaxLine = 400;  // bytes, "\r\n" included
inline constexpr int kDefaultDataVersion = 140818;
inline constexpr int kLinkSlots = 16;

// formatIndex: 0 RTCM 2.3, 1 RTCM 3.2, 2 CMR.
struct MountPoint {
  std::string name;
  int formatIndex = 1;
  std::string description;
};

// The area the server covers, in degrees.
struct Range {
  double latFrom = 0;
  double latTo = 0;
  double lonFrom = 0;
  double lonTo = 0;
  int version = kDefaultDataVersion;
};

// A named position in degrees.
struct Station {
  std::string name;
  double latitude = 0;
  double longitude = 0;
};

// A status line: "BASE" for one station, "LINE" for two.
struct Status {
  Station first;
  std::optional<Station> second;
};

// Each record is nothing when the line would be longer than kMaxLine.
// "VORAN,MOUNT,<name>,<formatIndex>,<description>" with every "," of the description written "_".
std::optional<std::string> MountRecord(const MountPoint& mount);
// "VORAN,MOUNTEND,<serverName>,<secondText>".
std::optional<std::string> MountEndRecord(std::string_view serverName, std::string_view secondText);
// "VORAN,RANGE,<latFrom>,<latTo>,<lonFrom>,<lonTo>,<version>", degrees in their shortest form.
std::optional<std::string> RangeRecord(const Range& range);
// "VORAN,BASE,<name>,<latRad>,<lonRad>,OK" or "VORAN,LINE,<name1>,<lat1Rad>,<lon1Rad>,<name2>,...,OK",
// radians with 10 decimals.
std::optional<std::string> StatusRecord(const Status& status);

// What a line read at the start of a connection makes of it.
enum class LineKind {
  Ignored,  // does not start "VORAN,"
  Link,     // "VORAN,KAVOROSERVER,..."
  Rover,    // "VORAN,GETMODE,..."
  Other,    // another "VORAN," line
};
LineKind Classify(std::string_view line);

// "VORAN,KAVOROSERVER,<build>,<slot>": build digits, slot 0..15.
struct LinkGreeting {
  long long build = 0;
  int slot = 0;
};
// The greeting, or nothing with problem saying what is wrong.
std::optional<LinkGreeting> ParseLinkGreeting(std::string_view line, std::string& problem);

// "VORAN,GETMODE,<mount>,<user>,<useSeven>,0,<useUndulation>,<DX>,<DY>,<DZ>,<RX>,<RY>,<RZ>,<SF>":
// the flags "0" or "1", DX..DZ with 5 decimals, RX..SF with 12.
struct GetMode {
  std::string mount;
  std::string user;
  bool useSeven = false;
  bool useUndulation = false;
  double shift[3] = {0, 0, 0};     // DX, DY, DZ
  double rotation[3] = {0, 0, 0};  // RX, RY, RZ
  double scale = 0;                // SF
};
// The request, or nothing with problem saying what is wrong.
std::optional<GetMode> ParseGetMode(std::string_view line, std::string& problem);

// Takes the first complete line (ended by "\n", a "\r" before it dropped) off the front of inbox.
std::optional<std::string> TakeLine(std::string& inbox);

// True for an NMEA GGA sentence of any talker ("$GPGGA,", "$GNGGA,", ...).
bool IsGga(std::string_view line);

}  // namespace netserver
