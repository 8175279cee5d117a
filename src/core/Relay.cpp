#include "core/Relay.h"

#include <algorithm>

#include "app/KavroGyBl.h"
#include "core/Messages.h"

const uint8_t kOutOfAreaFrame[25] = {0xd3, 0x00, 0x13, 0xff, 0xd0, 0xff, 0x03, 0x03, 0x00,
                                     0xb3, 0xac, 0xb3, 0xf6, 0xb2, 0xe2, 0xc1, 0xbf, 0xb7,
                                     0xb6, 0xce, 0xa7, 0x04, 0x5b, 0xa2, 0xa1};

namespace {

constexpr int kFirstUpstreamFormat = 11;  // dataFormat of the first upstream mountpoint
constexpr int kUpstreamRtcm32 = 1;        // formatIndex of an RTCM 3.2 upstream mountpoint

}  // namespace

namespace {

bool IsBaseNamed(const ClientEntry& entry, uint32_t key, const std::string& mountpoint, uint32_t roverSocket) {
  return entry.clientType == "BASE" && key != roverSocket && entry.userName == mountpoint;
}

int Link(ClientTable& table, ClientEntry* base, uint32_t roverSocket) {
  if (base == nullptr) return 0;
  ClientEntry* rover = FindClient(table, roverSocket);
  if (rover == nullptr) return 0;

  auto known = base->links.find(roverSocket);
  if (known != base->links.end()) {
    known->second = rover->userName;
    return 1;
  }
  if (!rover->links.empty()) {
    if (ClientEntry* previous = FindClient(table, rover->links.begin()->first))
      previous->links.erase(roverSocket);
    rover->links.clear();
  }
  base->links[roverSocket] = rover->userName;
  rover->links[base->socket] = base->userName;
  return 1;
}

// The rover leaves the base it was linked to: it must not go on naming it, or it would count as
// linked (never idle-closed) while nothing feeds it. Links are kept on both sides, so the rover's
// own links name that base.
void LeaveBase(ClientTable& table, uint32_t roverSocket) {
  ClientEntry* rover = FindClient(table, roverSocket);
  if (rover == nullptr) return;
  for (const auto& [key, name] : rover->links) {
    ClientEntry* base = FindClient(table, key);
    if (base != nullptr && base->links.erase(roverSocket) > 0) {
      rover->links.erase(key);
      return;
    }
  }
}

}  // namespace

int LinkToBase(ClientTable& table, const std::string& mountpoint, uint32_t roverSocket) {
  LeaveBase(table, roverSocket);
  for (auto& [key, entry] : table) {
    if (IsBaseNamed(entry, key, mountpoint, roverSocket)) return Link(table, &entry, roverSocket);
  }
  return 0;
}

int LinkToBase(ClientTable& table, const BaseIndex& bases, const std::string& mountpoint, uint32_t roverSocket) {
  LeaveBase(table, roverSocket);
  for (uint32_t key : bases) {
    ClientEntry* entry = FindClient(table, key);
    if (entry != nullptr && IsBaseNamed(*entry, key, mountpoint, roverSocket)) return Link(table, entry, roverSocket);
  }
  return 0;
}

void RoverUpstreamData(CKavroGyBl& gybl, uint32_t socket, const uint8_t* data, size_t length) {
  if (socket == 0) return;
  ClientEntry* rover = FindClient(gybl.clientTable, socket);
  if (rover == nullptr) return;
  if (rover->roveFlagA == 1) {
    // Outside its work area: no corrections, only the notice where the rover reads RTCM 3.2.
    const int mount = rover->dataFormat - kFirstUpstreamFormat;
    if (rover->dataFormat > 10 && mount < static_cast<int>(gybl.mounts.size()) &&
        gybl.mounts[static_cast<size_t>(mount)]->formatIndex == kUpstreamRtcm32) {
      gybl.SendText(socket,
                    std::string_view(reinterpret_cast<const char*>(kOutOfAreaFrame), sizeof kOutOfAreaFrame));
    }
    return;
  }
  gybl.SendText(socket,
                std::string_view(reinterpret_cast<const char*>(data), std::min(length, kUpstreamBlockLimit)));
}

void OutgoingClosed(CKavroGyBl& gybl, uint32_t socket) {
  if (socket != 0) {
    ClientEntry* rover = FindClient(gybl.clientTable, socket);
    if (rover == nullptr) return;
    rover->closeReason = static_cast<int>(CloseReason::kLinkRequest);
    gybl.CloseEvent(socket);
    return;
  }
  for (int i = 0; i < kLinkSlots; ++i) {
    if (gybl.settings.links[static_cast<size_t>(i)].port == 0) break;
    if (gybl.linkSlots[static_cast<size_t>(i)].connected != 0) return;
  }
  gybl.steps().ResetUpstreamMounts();
  gybl.Log("QVO Link Close", kLogRed);
}
