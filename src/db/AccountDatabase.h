#pragma once
// The account database of the running caster: user accounts, work areas and activity records over the
// caster's databases, as the login handlers, the decoders and the service steps use them.
#include <cstdint>
#include <functional>
#include <string>

#include "core/AccountServices.h"
#include "db/ActivityRecords.h"
#include "db/UserAccounts.h"
#include "db/WorkAreas.h"
#include "gnss/DecoderContext.h"

class CKavroGyBl;
class KavroDatabase;

class AccountDatabase : public AccountServices, public PositionRecorder {
 public:
  // Loads the work-area list again each time the server database opens.
  AccountDatabase(CKavroGyBl& gybl, KavroDatabase& database);
  ~AccountDatabase() override;
  AccountDatabase(const AccountDatabase&) = delete;
  AccountDatabase& operator=(const AccountDatabase&) = delete;

  // Hands a connection whose answers came back to the request handling (the classifier's Resume).
  void SetResumer(std::function<void(uint32_t socket)> resume) { resume_ = std::move(resume); }

  bool LookupReady(ClientEntry& entry, const std::string& name, const std::string& password,
                   bool accountPage) override;
  int LookupUserArea(const std::string& name, ClientEntry& entry) override;
  UserCheck CheckUser(const std::string& name, const std::string& password, ClientEntry& entry) override;
  void LogEvent(const std::string& name, int code, const std::string& text) override;
  AccountValues QueryAccount(const std::string& name, const std::string& password) override;
  bool ServerDatabaseDown() override;
  int RecordPosition(const std::string& name, const std::string& gga, double b, double l, double h) override;

  UserAccounts accounts;
  WorkAreas areas;
  ActivityRecords records;

 private:
  CKavroGyBl& gybl_;
  KavroDatabase& database_;
  std::function<void(uint32_t)> resume_;
  uint64_t lastLookup_ = 0;
  uint32_t resuming_ = 0;  // the socket whose answers are being used
  bool inResume_ = false;
};
