#pragma once
// The account database as the login handlers see it: work areas, the user check and the event record.
#include <string>

#include "reports/StatusPage.h"

struct ClientEntry;

// Result of a user check: ok, the account's denied-services mask and the error code (0 on success).
struct UserCheck {
  bool ok = false;
  int rights = 0;
  int errorCode = 1;
};

class AccountServices {
 public:
  virtual ~AccountServices() = default;
  // Whether the account steps of a login can run now. False when their answers must first be fetched
  // from the server database: the fetch has started, the entry is marked as waiting, and the caller
  // returns at once keeping its request, which is handled again from the start when the answers came
  // (accountPage: the answers of the status page instead of a login).
  virtual bool LookupReady(ClientEntry& /*entry*/, const std::string& /*name*/, const std::string& /*password*/,
                           bool /*accountPage*/ = false) {
    return true;
  }
  // Fills the entry's work area (bounds, parameter set and name) for a user name; 1 when the account
  // was found.
  virtual int LookupUserArea(const std::string& name, ClientEntry& entry) = 0;
  // Checks a login; copies the account fields into the entry.
  virtual UserCheck CheckUser(const std::string& name, const std::string& password, ClientEntry& entry) = 0;
  // Records a login event (code and its text) for a user.
  virtual void LogEvent(const std::string& name, int code, const std::string& text) = 0;
  // The account values of the status page.
  virtual AccountValues QueryAccount(const std::string& /*name*/, const std::string& /*password*/) {
    return {};
  }
  // True while the server database is configured but not open: a source is then admitted unchecked
  // under password protection.
  virtual bool ServerDatabaseDown() { return false; }
};
