#include "app/CasterSteps.h"

#include <arpa/inet.h>

#include "reports/IpLocation.h"

std::string CasterSteps::LocateAddress(const sockaddr_in& peer) {
  if (!locate_ || ipLocation_ == nullptr || !ipLocation_->IsOpen()) return {};
  return ipLocation_->LocationText(ntohl(peer.sin_addr.s_addr));
}
