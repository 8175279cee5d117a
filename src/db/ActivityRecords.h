#pragma once
// Activity records: one record per finished connection (local RECORD table, and SER_RECORD on the
// server), the position trail (SER_Position, or the daily GGA file) and the event log (SER_LOG, server
// only). Server rows are queued; the caller never waits for the server.
#include <string>

#include "core/WriteFailures.h"

class CKavroGyBl;
class KavroDatabase;
class UserAccounts;
struct ClientEntry;

class ActivityRecords {
 public:
  // Longest text of a local record value, in bytes.
  static constexpr size_t kRecordTextBytes = 49;

  ActivityRecords(CKavroGyBl& gybl, KavroDatabase& database, UserAccounts& accounts)
      : gybl_(gybl), database_(database), accounts_(accounts) {}

  // Records a finished connection (kind 0) and charges its time; kinds 1 and 2 record nothing. out: the
  // out value of the charge, 0 when none. 1 when handled or no record is needed, 0 when nothing was
  // written.
  int RecordConnection(const ClientEntry& entry, int kind, int& out);
  // Records a position (latitude and longitude in degrees, height in metres) with its GGA text under a
  // name. 0 when the line could not be written to the daily GGA file (one red line per file and day),
  // else 1.
  int RecordPosition(const std::string& name, const std::string& gga, double b, double l, double h);
  // Records an event of a user with its code and text (server database only). Always 1.
  int LogEvent(const std::string& user, int code, const std::string& comment);

 private:
  int WriteLocalRecord(const ClientEntry& entry, int64_t duration);

  CKavroGyBl& gybl_;
  KavroDatabase& database_;
  UserAccounts& accounts_;
  WriteFailures ggaFailures_;
};
