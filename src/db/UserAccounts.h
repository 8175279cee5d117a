#pragma once
// User accounts: the login check, the charging of connection time (which also creates accounts), the
// account count of the monitor and the account page, on the server database or the local file.
#include <string>

#include "reports/StatusPage.h"

class CKavroGyBl;
class KavroDatabase;
class QueryRecorder;
struct ClientEntry;

// Result codes of CheckUser.
enum UserCheckCode : int {
  kUserAccepted = 0,
  kUserPasswordWrong = 1,  // local file: no such user, wrong password or busy recordset
  kUserTimeExceeded = 2,
  kUserDateExceeded = 3,
  kUserServiceDenied = 4,   // set by the callers
  kUserSerialMismatch = 5,  // set by the callers
  kUserServerPassword = 6,
  kUserServerUnknown = 7,
};

class UserAccounts {
 public:
  UserAccounts(CKavroGyBl& gybl, KavroDatabase& database) : gybl_(gybl), database_(database) {}

  // The server queries of a login (or, with accountPage, of the status page), run on the query worker
  // ahead of CheckUser or QueryAccount.
  static void FetchLogin(QueryRecorder& recorder, const std::string& user, const std::string& password,
                         bool accountPage);
  // Checks a login. The entry gets the account's unit, contact, serial and serial binding; userType the
  // denied-services mask; code one of UserCheckCode. True when the login is accepted (which the flags
  // passwordProtection and autoCreateUserOff, both off, grant to failed checks too).
  bool CheckUser(const std::string& user, const std::string& password, int& userType, int& code,
                 ClientEntry& entry);
  // Charges the time of a finished connection to its account, creating the account when there is none.
  // out: the new used time (local file), or today for a new account, else 0. 1 when charged.
  int ChargeConnectionTime(const ClientEntry& entry, int& out);
  // Counts the accounts of the local file into the statistics; returns the number of active ones.
  int CountUsers();
  // The account values of the status page; untouched values stay empty.
  AccountValues QueryAccount(const std::string& user, const std::string& password);

 private:
  bool FlagsAcceptAll() const;
  bool CheckServerUser(const std::string& user, const std::string& password, int today, int& userType,
                       int& code, ClientEntry& entry);
  bool CheckLocalUser(const std::string& user, const std::string& password, int today, int& userType,
                      int& code, ClientEntry& entry);
  int ChargeServer(const std::string& user, const std::string& accountName, int charged, int today, int& out);
  int ChargeLocal(const std::string& user, const std::string& accountName, int charged, int today, int& out);

  CKavroGyBl& gybl_;
  KavroDatabase& database_;
};
