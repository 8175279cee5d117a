#pragma once
// The database steps of the service start and stop, supplied by the caster's databases.
#include "app/ServiceSteps.h"
#include "db/KavroDatabase.h"

class DatabaseSteps : public ServiceSteps {
 public:
  // The databases are created after the shared state that holds these steps.
  void Attach(KavroDatabase* database) { database_ = database; }

  void OpenSqlDatabase() override {
    if (database_ != nullptr) database_->StartSqlDatabase();
  }
  void CloseSqlDatabase() override {
    if (database_ != nullptr) database_->CloseSqlDatabase();
  }

 private:
  KavroDatabase* database_ = nullptr;
};
