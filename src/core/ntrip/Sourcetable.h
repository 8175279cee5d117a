#pragma once
// The NTRIP sourcetable answer: upstream mountpoints, one format-typed "Multi Base" mountpoint per
// format with suitable bases, and one row per connected base, optionally within a window. Pure: it
// composes text and does no I/O.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/ClientEntry.h"
#include "core/LocalTime.h"
#include "core/Mount.h"

// Latitude and longitude window in degrees; a bound of 0 is no bound.
struct SourcetableWindow {
  double minLat = 0;
  double maxLat = 0;
  double minLon = 0;
  double maxLon = 0;
};

struct SourcetableInput {
  double ntripVersion = 1.0;  // of the requesting client: 1.0 gets the "SOURCETABLE" header
  SourcetableWindow window;
  const MountList& mounts;
  const ClientTable& clientTable;
  std::string mountLocal;  // "MountLocal" country code
  int buildNumber = 0;
  std::string upstreamServerName;  // identification text of the upstream server
  bool link0Connected = false;
  bool fixedBase = false;   // bases whose agent starts "KavroNet" make format-typed rows
  bool movingBase = false;  // other bases make format-typed rows
  LocalTime now;
};

// Body size limits: upstream and format-typed rows, the format 2 row, base row starts.
constexpr size_t kSourcetableBodyLimit = 16000;
constexpr size_t kSourcetableRtcm23Limit = 8192;
constexpr size_t kSourcetableBaseStartLimit = 15000;

// The rows of the table. Rows are added whole; a row that would pass its limit ends the body.
std::string SourcetableBody(const SourcetableInput& input);
// Header with the body's length, the body and "ENDSOURCETABLE".
std::string ComposeSourcetable(const SourcetableInput& input);

// Fields of a sourcetable request path split at ";", at most 15, with CR and LF removed.
std::vector<std::string> SplitSourcetablePath(const std::string& path);
// Lower and upper bound of one "/?filter=" field written with the URL-escaped operators >=, >, <=
// and <; 0 where the field names none.
std::pair<double, double> FilterBounds(const std::string& field);
