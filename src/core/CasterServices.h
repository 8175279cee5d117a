#pragma once
// The services the NTRIP handlers call in the running caster: sourcetables and the status page
// over the shared state, and the rovers' outgoing connections to the upstream caster, whose
// notifications come back here.
#include <boost/asio/any_io_executor.hpp>

#include "core/ntrip/NtripServices.h"
#include "link/KavroNetClient.h"

class AccountServices;
class CKavroGyBl;

class CasterServices : public NtripServices, public NetClientEvents {
 public:
  CasterServices(CKavroGyBl& gybl, AccountServices& accounts, boost::asio::any_io_executor executor)
      : gybl_(gybl), accounts_(accounts), executor_(std::move(executor)) {}

  void Sourcetable(uint32_t socket, double minLat, double maxLat, double minLon, double maxLon) override;
  void FilteredSourcetable(const std::string& path, uint32_t socket) override;
  void StatusPage(const std::string& user, const std::string& password, uint32_t socket) override;
  void ConnectUpstream(uint32_t socket, std::function<void(bool connected)> done) override;
  void ConnectNetServer(uint32_t socket, const std::string& address, int port,
                        std::function<void(bool connected)> done) override;
  void SendUpstream(uint32_t socket, const std::string& text) override;

  // Upstream data for a rover (3028) and the end of an outgoing connection (3030).
  void OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) override;
  void OnNetClosed(std::intptr_t param, int32_t tag) override;

 private:
  CKavroGyBl& gybl_;
  AccountServices& accounts_;
  boost::asio::any_io_executor executor_;
};
