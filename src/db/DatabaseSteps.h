#pragma once
// The database steps of the service start, stop and connection close, supplied by the caster's
// databases and its account database.
#include "core/ServiceSteps.h"
#include "db/AccountDatabase.h"
#include "db/KavroDatabase.h"

class DatabaseSteps : public ServiceSteps {
 public:
  // The databases are created after the shared state that holds these steps.
  void Attach(KavroDatabase* database) { database_ = database; }
  void AttachAccounts(AccountDatabase* accounts) { accounts_ = accounts; }

  void OpenSqlDatabase() override {
    if (database_ != nullptr) database_->StartSqlDatabase();
  }
  void CloseSqlDatabase() override {
    if (database_ != nullptr) database_->CloseSqlDatabase();
  }
  int CountUsers() override { return accounts_ != nullptr ? accounts_->accounts.CountUsers() : 0; }
  void RecordConnection(const ClientEntry& entry) override {
    int out = 0;
    if (accounts_ != nullptr) accounts_->records.RecordConnection(entry, 0, out);
  }

 private:
  KavroDatabase* database_ = nullptr;
  AccountDatabase* accounts_ = nullptr;
};
