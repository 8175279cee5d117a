#include "db/AccountDatabase.h"

#include "app/KavroGyBl.h"
#include "db/KavroDatabase.h"
#include "db/ServerQueries.h"

AccountDatabase::AccountDatabase(CKavroGyBl& gybl, KavroDatabase& database)
    : accounts(gybl, database),
      areas(gybl, database),
      records(gybl, database, accounts),
      gybl_(gybl),
      database_(database) {
  // A new server database has no work areas yet (its tables are still queued).
  database_.SetOpenedHandler([this](bool created) {
    if (created) {
      gybl_.workAreaList.clear();
    } else {
      areas.LoadWorkAreas();
    }
  });
}

AccountDatabase::~AccountDatabase() { database_.SetOpenedHandler(nullptr); }

bool AccountDatabase::LookupReady(ClientEntry& entry, const std::string& name, const std::string& password,
                                  bool accountPage) {
  if ((inResume_ && resuming_ == entry.socket) || !resume_ || !database_.ServerQueriesRunning()) return true;
  const uint64_t id = ++lastLookup_;
  entry.awaitingDatabase = true;
  entry.lookupId = id;
  database_.Prefetch(
      [name, password, accountPage](QueryRecorder& recorder) {
        if (!accountPage) WorkAreas::FetchUserArea(recorder, name);
        UserAccounts::FetchLogin(recorder, name, password, accountPage);
      },
      [this, socket = entry.socket, id] {
        // The connection may have gone, or its socket number been taken by another one, meanwhile.
        ClientEntry* waiting = FindClient(gybl_.clientTable, socket);
        if (waiting == nullptr || !waiting->awaitingDatabase || waiting->lookupId != id) return;
        inResume_ = true;
        resuming_ = socket;
        resume_(socket);
        inResume_ = false;
      });
  return false;
}

int AccountDatabase::LookupUserArea(const std::string& name, ClientEntry& entry) {
  return areas.LookupUserArea(name, entry.areaBounds, entry.areaParameters, entry.areaName);
}

UserCheck AccountDatabase::CheckUser(const std::string& name, const std::string& password,
                                     ClientEntry& entry) {
  UserCheck check;
  check.ok = accounts.CheckUser(name, password, check.rights, check.errorCode, entry);
  return check;
}

void AccountDatabase::LogEvent(const std::string& name, int code, const std::string& text) {
  records.LogEvent(name, code, text);
}

AccountValues AccountDatabase::QueryAccount(const std::string& name, const std::string& password) {
  return accounts.QueryAccount(name, password);
}

bool AccountDatabase::ServerDatabaseDown() { return gybl_.settings.useSql == 1 && database_.sqlOpen != 1; }

int AccountDatabase::RecordPosition(const std::string& name, const std::string& gga, double b, double l,
                                    double h) {
  return records.RecordPosition(name, gga, b, l, h);
}
