#include "core/CasterServices.h"

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/Messages.h"
#include "core/Relay.h"
#include "core/ntrip/SourcetableReply.h"
#include "reports/StatusPage.h"

void CasterServices::Sourcetable(uint32_t socket, double minLat, double maxLat, double minLon,
                                 double maxLon) {
  ::Sourcetable(gybl_, socket, minLat, maxLat, minLon, maxLon);
}

void CasterServices::FilteredSourcetable(const std::string& path, uint32_t socket) {
  ::FilteredSourcetable(gybl_, path, socket);
}

void CasterServices::StatusPage(const std::string& user, const std::string& password, uint32_t socket) {
  SendStatusPage(gybl_, socket, user, accounts_.QueryAccount(user, password));
}

void CasterServices::ConnectUpstream(uint32_t socket, std::function<void(bool connected)> done) {
  const RelaySettings& relay = gybl_.settings.relay;
  ConnectNetServer(socket, relay.ip, relay.port, std::move(done));
}

void CasterServices::ConnectNetServer(uint32_t socket, const std::string& address, int port,
                                      std::function<void(bool connected)> done) {
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr) return;
  if (!entry->netClient) entry->netClient = std::make_shared<CKavroNetClient>(executor_);
  const std::shared_ptr<CKavroNetClient> client = entry->netClient;
  client->Connect(address, port, [this, client, socket, done = std::move(done)](int connected) {
    // Registered only once connected, so a failed attempt reports nothing but its result.
    if (connected == 1) client->SetNotify(this, kMsgRoverData, static_cast<std::intptr_t>(socket));
    done(connected == 1);
  });
}

void CasterServices::SendUpstream(uint32_t socket, const std::string& text) {
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry != nullptr && entry->netClient) entry->netClient->SendText(text);
}

void CasterServices::OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) {
  if (message != kMsgRoverData) return;  // link data belongs to the server links
  RoverUpstreamData(gybl_, static_cast<uint32_t>(param), block.Data(), static_cast<size_t>(block.Length()));
}

void CasterServices::OnNetClosed(std::intptr_t param, int32_t /*tag*/) {
  OutgoingClosed(gybl_, static_cast<uint32_t>(param));
}
