#include "app/CasterSteps.h"

#include <arpa/inet.h>

#include "link/ServerLinks.h"
#include "reports/IpLocation.h"

std::string CasterSteps::LocateAddress(const sockaddr_in& peer) {
  // The location file knows IPv4 ranges only.
  if (!locate_ || ipLocation_ == nullptr || !ipLocation_->IsOpen() || peer.sin_family == AF_INET6) return {};
  return ipLocation_->LocationText(ntohl(peer.sin_addr.s_addr));
}

void CasterSteps::ArmLinks() {
  if (links_ != nullptr) links_->Arm();
}

void CasterSteps::StopLinks() {
  if (links_ != nullptr) links_->StopAll();
}

void CasterSteps::ResetUpstreamMounts() {
  if (links_ != nullptr) links_->ResetUpstreamMounts();
}

void CasterSteps::ConnectLink(int slot) {
  if (links_ != nullptr) links_->Connect(slot);
}

bool CasterSteps::LinkConnected(int slot) { return links_ != nullptr && links_->Connected(slot); }
