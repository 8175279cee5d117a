#pragma once
// The service steps of the running caster, joining the subsystems that supply them.
#include "db/DatabaseSteps.h"

class NL_QQwry;

class CasterSteps : public DatabaseSteps {
 public:
  // ipLocation: the opened IP location reader, or null; locate: whether accepted peers are looked up
  // (on a system whose default language is Chinese).
  CasterSteps(NL_QQwry* ipLocation, bool locate) : ipLocation_(ipLocation), locate_(locate) {}

  std::string LocateAddress(const sockaddr_in& peer) override;

 private:
  NL_QQwry* ipLocation_;
  bool locate_;
};
