#include "gnss/UpstreamService.h"

#include "core/StrFormat.h"

int ChooseUpstreamSlot(const std::array<LinkSlot, kLinkSlots>& slots,
                       const std::array<LinkSlotState, kLinkSlots>& states, double latitude, double longitude,
                       int from) {
  for (int i = std::max(from, 0); i < kLinkSlots; ++i) {
    if (slots[static_cast<size_t>(i)].port == 0) break;
    const LinkSlotState& state = states[static_cast<size_t>(i)];
    const std::array<double, 4>& c = state.coverage;
    // The rectangle's bounds are taken in the order the server gave them.
    const bool covers = c[0] == 0.0 || (c[0] <= latitude && latitude <= c[1] && c[2] <= longitude && longitude <= c[3]);
    if (covers && state.connected != 0) return i;
  }
  return -1;
}

std::string GetModeLine(const std::string& mountpoint, const ClientEntry& rover) {
  const AreaParameters& p = rover.areaParameters;
  return StrFormat("VORAN,GETMODE,%s,%s,%d,%d,%d,%.5f,%.5f,%.5f,%.12f,%.12f,%.12f,%.12f\r\n", mountpoint.c_str(),
                   rover.userName.c_str(), p.useSeven, 0, p.useUndulation, p.dx, p.dy, p.dz, p.rx, p.ry, p.rz,
                   p.sf);
}
