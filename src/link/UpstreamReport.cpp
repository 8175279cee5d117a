#include "link/UpstreamReport.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "app/KavroGyBl.h"

namespace {

constexpr std::string_view kRoveLinkOn = "VORAN,ROVELINK,ON,\r\n";
constexpr std::string_view kRoveLinkOff = "VORAN,ROVELINK,OFF,\r\n";
constexpr std::string_view kBaseFail = "VORAN,BASE,FAIL\r\n";
constexpr uint8_t kReceiverCodeStar = 3;  // receiver code in the '*' form

// A client of the upstream network: a '*' receiver code, or the network's agent on a connection that
// is not a plain NTRIP client.
bool OfUpstreamNetwork(const ClientEntry& entry) {
  if (entry.receiverCodeKind == kReceiverCodeStar) return true;
  return entry.clientType != "NTRIP" && (entry.agent == " NTRIP-KavroNet" || entry.agent == "NTRIP-KavroNet");
}

void SendLine(CKavroGyBl& gybl, ClientEntry& entry, std::string_view line) {
  const size_t n = std::min(line.size(), kOutBufferSize);
  gybl.Send(entry.socket, line.data(), static_cast<uint32_t>(n));
}

}  // namespace

void UpstreamReport(CKavroGyBl& gybl) {
  ClientTable& table = gybl.clientTable;
  // Fixed, float, differential and single-point GGA sentences of every rover.
  double fixed = 0, all = 0;
  for (const auto& [socket, entry] : table) {
    fixed += entry.ggaCounters[0];
    all += entry.ggaCounters[0] + entry.ggaCounters[1] + entry.ggaCounters[2] + entry.ggaCounters[3];
  }
  gybl.statistics.fixRate = all < 1 ? 0.0 : fixed / all;

  int bases = 0;
  // The next entry is found by key after each send, so that a send that changes the table cannot
  // invalidate the walk.
  uint32_t socket = 0;
  for (auto it = table.begin(); it != table.end(); it = table.upper_bound(socket)) {
    socket = it->first;
    ClientEntry& entry = it->second;
    if (socket == 0 || entry.userName.empty() || entry.clientType == "GETGGA") continue;
    const bool base = entry.clientType == "BASE";
    if (base) ++bases;
    if (!OfUpstreamNetwork(entry)) continue;
    if (base) {
      SendLine(gybl, entry, entry.links.empty() ? kRoveLinkOff : kRoveLinkOn);
    } else if (entry.links.empty() && entry.classifyState == kClassifyDevice) {
      SendLine(gybl, entry, kBaseFail);
    }
  }
  gybl.statistics.basesOnline = bases;
}
