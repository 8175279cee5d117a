#include "core/ntrip/Sourcetable.h"

#include <array>
#include <charconv>

#include "core/StrFormat.h"

namespace {

constexpr size_t kDescriptionLength = 300;
constexpr size_t kTailLength = 8;
constexpr size_t kMaxPathFields = 15;

// Upstream rows by formatIndex: name, name, description, MountLocal, server tail.
constexpr std::array<const char*, 3> kUpstreamRows = {
    "STR;%s;%s;RTCM 2.3;%s;2;GNSS;KavroGnss;%s;0.00;0.00;1;1;QVO%s;none;B;N;19200;\r\n",
    "STR;%s;%s;RTCM 3.2;%s;2;GNSS;KavroGnss;%s;0.00;0.00;1;1;QVO%s;none;B;N;19200;\r\n",
    "STR;%s;%s;CMR +;%s;2;GNSS;KavroGnss;%s;0.00;0.00;1;1;QVO%s;none;B;N;9600;\r\n",
};

// Format-typed rows of dataFormat 1 to 7: MountLocal.
constexpr std::array<const char*, 7> kFormatRows = {
    "STR;[RTCA];[RTCA];RTCA;RTCAOBS(1),RTCAREF(10);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n",
    "STR;[RTCM23];[RTCM23];RTCM "
    "2.3;1(1),3(10),18(1),19(1);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;"
    "\r\n",
    "STR;[RTCM30];[RTCM30];RTCM "
    "3.0;1004(1),1005(10);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n",
    "STR;[CMR];[CMR];CMR +;CMR1(1),CMR(0);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n",
    "STR;[RTD];[RTD];RTD;1(1),3(1);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n",
    "STR;[RTCM32-MSM];[RTCM32-MSM];RTCM "
    "3.2;1074(1),1084(1),1124(1),1005(10),1033(10);2;GNSS;KavroGnss;%s;0.00;0."
    "00;1;0;QVO;none;B;N;9600;\r\n",
    "STR;[sCMRx];[sCMRx];CMR;CMR(0),CMR(1);2;GNSS;KavroGnss;%s;0.00;0.00;1;0;QVO;none;B;N;9600;\r\n",
};

// Base row starts by dataFormat 0 to 7: name, name.
constexpr std::array<const char*, 8> kBaseRowStarts = {
    "STR;%s;%s;OTHER;1(1),3(1)",
    "STR;%s;%s;RTCA;RTCAOBS(1),RTCAREF(10)",
    "STR;%s;%s;RTCM 2.3;1(1),3(10),18(1),19(1)",
    "STR;%s;%s;RTCM 3.0;1004(1),1012(1),1005(10)",
    "STR;%s;%s;CMR +;CMR1(1),CMR(0)",
    "STR;%s;%s;RTD;1(1),3(1)",
    "STR;%s;%s;RTCM 3.2;1074(1),1084(1),1124(1),1005(10)",
    "STR;%s;%s;sCMRx;CMR1(1),CMR(0)",
};

constexpr const char* kBaseRowEnd = ";2;GNSS;KavroGnss;%s;%.2f;%.2f;1;0;QVO%s;none;B;N;9600;\r\n";

constexpr int kRtcm23 = 2;
constexpr int kRtcm30 = 3;
constexpr int kRtcm32Msm = 6;

bool IsFieldBreaker(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == ';' || u < 0x20 || u == 0x7F;
}

// A client's mountpoint name can only be listed when it cannot break the row into other fields or
// lines.
bool IsListableName(const std::string& name) {
  for (char c : name) {
    if (IsFieldBreaker(c)) return false;
  }
  return true;
}

std::string LastChars(const std::string& text, size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

// The end of a client's agent text, with anything that would break the row made harmless.
std::string AgentTail(const std::string& agent) {
  std::string tail = LastChars(agent, kTailLength);
  for (char& c : tail) {
    if (IsFieldBreaker(c)) c = '_';
  }
  return tail;
}

// Adds the row when the body stays within the limit; false when the row ends the body.
bool AddRow(std::string& body, const std::string& row, size_t limit) {
  if (body.size() + row.size() > limit) return false;
  body += row;
  return true;
}

bool OutsideWindow(const SourcetableWindow& w, double lat, double lon) {
  return (w.minLat != 0 && w.minLat > lat) || (w.maxLat != 0 && w.maxLat < lat) ||
         (w.minLon != 0 && w.minLon > lon) || (w.maxLon != 0 && w.maxLon < lon);
}

// Upstream rows; false when the body is full.
bool AddUpstreamRows(std::string& body, const SourcetableInput& in) {
  const std::string tail = LastChars(in.upstreamServerName, kTailLength);
  for (const auto& mount : in.mounts) {
    if (!mount || mount->formatIndex < 0 || mount->formatIndex >= static_cast<int>(kUpstreamRows.size())) {
      continue;
    }
    const std::string description = mount->description.substr(0, kDescriptionLength);
    const std::string row =
        StrFormat(kUpstreamRows[static_cast<size_t>(mount->formatIndex)], mount->name.c_str(),
                  mount->name.c_str(), description.c_str(), in.mountLocal.c_str(), tail.c_str());
    if (!AddRow(body, row, kSourcetableBodyLimit)) return false;
  }
  return true;
}

// Format-typed rows for the formats with at least one suitable base; false when the body is full.
bool AddFormatRows(std::string& body, const SourcetableInput& in) {
  std::array<int, kFormatRows.size()> counts{};
  for (const auto& [key, e] : in.clientTable) {
    if (e.clientType != "BASE" || e.dataFormat < 1 || e.dataFormat > static_cast<int>(kFormatRows.size()))
      continue;
    if (e.position[0] == 0 || e.position[1] == 0) continue;
    const bool fixed = e.agent.compare(0, 8, "KavroNet") == 0;
    if (!(fixed ? in.fixedBase : in.movingBase)) continue;
    ++counts[static_cast<size_t>(e.dataFormat - 1)];
  }
  for (size_t i = 0; i < kFormatRows.size(); ++i) {
    if (counts[i] == 0) continue;
    const size_t limit = static_cast<int>(i + 1) == kRtcm23 ? kSourcetableRtcm23Limit : kSourcetableBodyLimit;
    if (!AddRow(body, StrFormat(kFormatRows[i], in.mountLocal.c_str()), limit)) return false;
  }
  return true;
}

void AddBaseRows(std::string& body, const SourcetableInput& in) {
  for (const auto& [key, e] : in.clientTable) {
    if (e.userName.empty() || e.clientType != "BASE") continue;
    const double lat = e.position[0];
    const double lon = e.position[1];
    if (OutsideWindow(in.window, lat, lon)) continue;
    if (in.link0Connected && e.deviceParam != 0) continue;
    // A row without a known format or with a name that would break the table is not listed.
    if (e.dataFormat < 0 || e.dataFormat >= static_cast<int>(kBaseRowStarts.size())) continue;
    if (!IsListableName(e.userName)) continue;

    std::string row =
        StrFormat(kBaseRowStarts[static_cast<size_t>(e.dataFormat)], e.userName.c_str(), e.userName.c_str());
    if (body.size() + row.size() > kSourcetableBaseStartLimit) return;
    if (e.dataFormat == kRtcm30 || e.dataFormat == kRtcm32Msm) {
      if (e.formatFlagA == 1) row += ",1021(5)";
      if (e.formatFlagB == 1) row += ",1023(5)";
    }
    row += StrFormat(kBaseRowEnd, in.mountLocal.c_str(), lat, lon, AgentTail(e.agent).c_str());
    if (!AddRow(body, row, kSourcetableBodyLimit)) return;
  }
}

double NumberAt(const std::string& text, size_t pos) {
  const char* first = text.data() + pos;
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  double value = 0;
  std::from_chars(first, last, value);  // leaves 0 when no number starts here
  return value;
}

// The number after the first operator of the pair found in the field; 0 when neither occurs.
double BoundAfter(const std::string& field, const char* inclusive, const char* strict) {
  for (const std::string op : {inclusive, strict}) {
    const size_t at = field.find(op);
    if (at != std::string::npos) return NumberAt(field, at + op.size());
  }
  return 0;
}

}  // namespace

std::string SourcetableBody(const SourcetableInput& input) {
  std::string body;
  body.reserve(kSourcetableBodyLimit);
  if (AddUpstreamRows(body, input) && AddFormatRows(body, input)) AddBaseRows(body, input);
  return body;
}

std::string ComposeSourcetable(const SourcetableInput& input) {
  const std::string body = SourcetableBody(input);
  const std::string build = StrFormat("%06d", input.buildNumber);
  std::string answer =
      input.ntripVersion == 1.0
          ? StrFormat("SOURCETABLE 200 OK\r\nServer: KavroGnss-Tavix/%s \r\n", build.c_str())
          : StrFormat("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/%s \r\n",
                      build.c_str());
  const LocalTime& t = input.now;
  answer += StrFormat("Date: %04d/%02d/%02d %02d:%02d:%02d\r\n", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
  answer += "Content-Type: text/plain \r\nContent-Length:  ";
  answer += StrFormat("%d\r\n\r\n", static_cast<int>(body.size()));
  answer += body;
  answer += "ENDSOURCETABLE\r\n\r\n\r\n";
  return answer;
}

std::vector<std::string> SplitSourcetablePath(const std::string& path) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() < kMaxPathFields) {
    const size_t end = path.find(';', start);
    std::string field = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::erase_if(field, [](char c) { return c == '\r' || c == '\n'; });
    fields.push_back(std::move(field));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return fields;
}

std::pair<double, double> FilterBounds(const std::string& field) {
  return {BoundAfter(field, "%3E%3D", "%3E"), BoundAfter(field, "%3C%3D", "%3C")};
}
