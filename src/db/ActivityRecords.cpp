#include "db/ActivityRecords.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "app/KavroGyBl.h"
#include "core/FileAppend.h"
#include "core/StrFormat.h"
#include "db/KavroDatabase.h"
#include "db/RecordFormat.h"
#include "db/UserAccounts.h"

namespace {

// Shortest counted stay: connected seconds less half the idle seconds.
constexpr int64_t kShortestRecord = 10;
constexpr int64_t kLeastBytes = 50;
constexpr size_t kShortestChargedAgent = 9;
// Agents of other casters and of the system's own network clients are recorded, never charged.
constexpr std::string_view kUnchargedAgents[] = {"CORS", "KavroNet", "ZEZOZUVAZ"};
// Widths of the server's text columns; a longer text would make the queued insert fail.
constexpr size_t kServerNameBytes = 128;
constexpr size_t kServerGgaBytes = 256;
constexpr size_t kServerTimeBytes = 64;

bool Charged(const std::string& agent) {
  if (agent.size() < kShortestChargedAgent) return false;
  for (std::string_view prefix : kUnchargedAgents) {
    if (agent.starts_with(prefix)) return false;
  }
  return true;
}

}  // namespace

int ActivityRecords::RecordConnection(const ClientEntry& entry, int kind, int& out) {
  out = 0;
  if (kind != 0) return 1;
  const int64_t duration = SecondsBetween(entry.connectTime, entry.disconnectTime);
  if (duration - entry.idleSeconds / 2 < kShortestRecord) return 0;
  if (entry.bytesReceived <= kLeastBytes) return 0;
  if (entry.clientType == "GETGGA") return 1;
  if (entry.userName.empty() || entry.userName == "GET_USER" || entry.userName == "GET_LIST") return 0;
  if (entry.agent.empty() || entry.agent == "PC") return 0;

  if (WriteLocalRecord(entry, duration) == 0) return 0;
  if (database_.OpenSqlDatabase() == 1 && entry.clientType != "BASE") {
    const LocalTime& t = entry.connectTime;
    database_.adoDb.Post(
        "insert into SER_RECORD (IP,UserName,Start,Time,RES,SEND) Values ($1,$2,$3,$4,$5,$6)",
        {PeerAddressText(entry), CutText(entry.userName, kServerNameBytes),
         StrFormat("%02d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second),
         duration, entry.bytesReceived, entry.bytesSent});
  }
  if (Charged(entry.agent)) accounts_.ChargeConnectionTime(entry, out);
  return 1;
}

int ActivityRecords::WriteLocalRecord(const ClientEntry& entry, int64_t duration) {
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  const LocalTime& t = entry.connectTime;
  // The base that fed a rover is the name stored with its first link.
  const std::string baseLink =
      entry.clientType != "BASE" && !entry.links.empty() ? entry.links.begin()->second : std::string();
  const std::string values[] = {
      PeerAddressText(entry),
      entry.userName,
      entry.clientType,
      StrFormat("%02d/%02d/%02d", t.year, t.month, t.day),
      StrFormat("%02d:%02d:%02d-%08lld", t.hour, t.minute, t.second, static_cast<long long>(duration)),
      StrFormat("%lld", static_cast<long long>(entry.bytesReceived)),
      StrFormat("%lld", static_cast<long long>(entry.bytesSent)),
      StrFormat("%d", entry.idleSeconds),
      StrFormat("%.7f-%.7f-%.3f", entry.position[0], entry.position[1], entry.position[2]),
      entry.agent,
      BaseModeName(entry.dataFormat),
      baseLink,
  };
  SqlParams params;
  for (const std::string& value : values) params.emplace_back(CutText(value, kRecordTextBytes));
  if (recordset.Execute("INSERT INTO RECORD(IP, A1, A2, A3, A4, RES, Send, Num1, position, ver, BASEMODE, "
                        "BaseLink) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)",
                        params) == 0) {
    gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 5), kLogRed);
    return 0;
  }
  return 1;
}

int ActivityRecords::RecordPosition(const std::string& name, const std::string& gga, double b, double l,
                                    double h) {
  const LocalTime now = gybl_.clock().Now();
  const std::string time = RecordTime(now);
  if (database_.OpenSqlDatabase() == 1) {
    database_.adoDb.Post("insert into SER_Position  (Time,Name,GGA,B,L,H) Values ($1,$2,$3,$4,$5,$6)",
                         {time, CutText(name, kServerNameBytes), CutText(gga, kServerGgaBytes), b, l, h},
                         Ado_Db::WriteKind::kPosition);
    return 1;
  }
  const std::string file = StrFormat("GGA/GGA%04d%02d%02d.txt", now.year, now.month, now.day);
  // The GGA text brings its own line end.
  const std::string line =
      StrFormat("%12s %-15s %12.8f %12.8f %8.3f ", time.c_str(), name.c_str(), b, l, h) + gga;
  const int fd =
      ::open((gybl_.programDirectory + file).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  bool written = false;
  if (fd >= 0) {
    // A line cut by a full disk is taken back: the next one would run into it.
    written = AppendWhole(fd, line.data(), line.size());
    written = ::close(fd) == 0 && written;
  }
  if (written) {
    ggaFailures_.Succeeded(file, now);
    return 1;
  }
  if (ggaFailures_.First(file, now)) gybl_.Log("GGA write failed " + file, kLogRed);
  return 0;
}

int ActivityRecords::LogEvent(const std::string& user, int code, const std::string& comment) {
  const std::string time = RecordTime(gybl_.clock().Now());
  if (database_.OpenSqlDatabase() == 1) {
    database_.adoDb.Post("insert into SER_LOG  (Time,UserName,ENum,Comment) Values ($1,$2,$3,$4)",
                         {CutText(time, kServerTimeBytes), CutText(user, kServerNameBytes), code,
                          CutText(comment, kServerNameBytes)});
  }
  return 1;
}
