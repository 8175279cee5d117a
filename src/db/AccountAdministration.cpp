#include "db/AccountAdministration.h"

#include <utility>

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "core/StrFormat.h"
#include "db/KavroDatabase.h"
#include "db/ServerQueries.h"
#include "db/UserAccounts.h"

namespace {

const char* ChangeText(AccountRequest::Kind kind) {
  switch (kind) {
    case AccountRequest::Kind::kAdd:
      return "added";
    case AccountRequest::Kind::kUpdate:
      return "changed";
    case AccountRequest::Kind::kDelete:
      return "deleted";
    case AccountRequest::Kind::kResetTime:
      return "used time reset";
    default:
      return "";
  }
}

}  // namespace

AccountAdministration::AccountAdministration(CKavroGyBl& gybl, KavroDatabase& database,
                                             UserAccounts& accounts)
    : gybl_(gybl), database_(database), accounts_(accounts) {}

AccountAdministration::~AccountAdministration() = default;

void AccountAdministration::Run(const AccountRequest& request, Done done) {
  if (database_.OpenSqlDatabase() == 1) {
    if (!database_.ServerQueriesRunning()) {
      Finish(request, AccountResult::Failure(AccountResult::Status::kUnreachable, "database unreachable"),
             done);
      return;
    }
    auto result = std::make_shared<AccountResult>();
    database_.Prefetch(
        [request, result](QueryRecorder& recorder) {
          AccountAdmin admin(
              AccountBackend::kServer,
              [&recorder](const std::string& sql, const SqlParams& params,
                          const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
                return recorder.Select(sql, params, columns, rows);
              });
          *result = admin.Run(request);
        },
        [this, alive = std::weak_ptr<int>(alive_), request, result, done = std::move(done)] {
          if (alive.lock()) Finish(request, std::move(*result), done);
        });
    return;
  }
  if (!database_.userDatabase.IsOpen()) {
    Finish(request, AccountResult::Failure(AccountResult::Status::kUnreachable, "database unreachable"),
           done);
    return;
  }
  AccountResult result;
  {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) {
      result = AccountResult::Failure(AccountResult::Status::kFailed, "database busy");
    } else {
      AccountAdmin admin(AccountBackend::kLocal,
                         [&recordset](const std::string& sql, const SqlParams& params,
                                      const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
                           return recordset.Select(sql, params, columns, rows);
                         });
      result = admin.Run(request);
    }
  }
  Finish(request, std::move(result), done);
}

void AccountAdministration::Finish(const AccountRequest& request, AccountResult result, const Done& done) {
  if (result.ok() && request.Changes()) {
    const std::string& name =
        request.kind == AccountRequest::Kind::kAdd ? request.account.name : request.name;
    gybl_.Log(StrFormat("Account %s %s", name.c_str(), ChangeText(request.kind)), kLogNormal);
    accounts_.CountUsers();
    gybl_.SendStatistics();
  } else if (result.status == AccountResult::Status::kFailed ||
             result.status == AccountResult::Status::kUnreachable) {
    gybl_.Log("Accounts: " + result.message, kLogRed);
  }
  if (done) done(std::move(result));
}
