#pragma once
// The service steps of the running caster, joining the subsystems that supply them.
#include "db/DatabaseSteps.h"

class NL_QQwry;
class ServerLinks;

class CasterSteps : public DatabaseSteps {
 public:
  // ipLocation: the opened IP location reader, or null; locate: whether accepted peers are looked up
  // (on a system whose default language is Chinese).
  CasterSteps(NL_QQwry* ipLocation, bool locate) : ipLocation_(ipLocation), locate_(locate) {}

  std::string LocateAddress(const sockaddr_in& peer) override;

  // The server links are created after the shared state that holds these steps.
  void AttachLinks(ServerLinks* links) { links_ = links; }
  void ArmLinks() override;
  void StopLinks() override;
  void ResetUpstreamMounts() override;
  void ConnectLink(int slot) override;
  bool LinkConnected(int slot) override;

 private:
  ServerLinks* links_ = nullptr;
  NL_QQwry* ipLocation_;
  bool locate_;
};
