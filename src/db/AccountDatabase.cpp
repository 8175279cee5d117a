#include "db/AccountDatabase.h"

#include "app/KavroGyBl.h"
#include "db/KavroDatabase.h"

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
