#pragma once
// Account administration for the running caster, on the back end its operations use: the local file at
// once on the main thread, the server database through the query worker, so that the relay never waits
// for a round trip. A change is written to the output log and recounts the accounts.
#include <functional>
#include <memory>

#include "db/AccountAdmin.h"

class CKavroGyBl;
class KavroDatabase;
class UserAccounts;

class AccountAdministration {
 public:
  using Done = std::function<void(AccountResult)>;

  AccountAdministration(CKavroGyBl& gybl, KavroDatabase& database, UserAccounts& accounts);
  ~AccountAdministration();
  AccountAdministration(const AccountAdministration&) = delete;
  AccountAdministration& operator=(const AccountAdministration&) = delete;

  // Carries out the request; done comes on the main thread, at once for the local file, when the answer
  // came for the server (or at once with kUnreachable while the server database is not open).
  void Run(const AccountRequest& request, Done done);

 private:
  // Logs and recounts after a request, then hands the result on.
  void Finish(const AccountRequest& request, AccountResult result, const Done& done);

  CKavroGyBl& gybl_;
  KavroDatabase& database_;
  UserAccounts& accounts_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
