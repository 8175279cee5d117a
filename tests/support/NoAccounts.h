#pragma once
// An empty account store for tests of the request handling: no work areas and no accounts; as with
// an empty user table, unknown users are admitted unless passwordProtection or autoCreateUserOff is on.
#include <string>

#include "app/Settings.h"
#include "core/AccountServices.h"

namespace testsupport {

class NoAccounts : public AccountServices {
 public:
  explicit NoAccounts(const OptionFlags& flags) : flags_(flags) {}
  int LookupUserArea(const std::string&, ClientEntry&) override { return 0; }
  UserCheck CheckUser(const std::string&, const std::string&, ClientEntry&) override {
    return {flags_.passwordProtection == 0 && flags_.autoCreateUserOff == 0, 0, 1};
  }
  void LogEvent(const std::string&, int, const std::string&) override {}

 private:
  const OptionFlags& flags_;
};

}  // namespace testsupport
