#include "gnss/NearestBase.h"

#include <cmath>

namespace {

constexpr double kDegreeScale = 3600.0 * 30.0;

}  // namespace

double BaseDistance(const std::array<double, 3>& rover, const std::array<double, 3>& base) {
  const double dLatitude = rover[0] - base[0];
  const double dLongitude = rover[1] - base[1];
  return std::sqrt(dLatitude * dLatitude + dLongitude * dLongitude) * kDegreeScale;
}

bool TakesPart(const ClientEntry& entry, const OptionFlags& flags) {
  if (entry.clientType != "BASE") return false;
  const bool network = entry.agent.compare(0, 8, "KavroNet") == 0;
  return (network ? flags.fixedBase : flags.movingBase) != 0;
}

int ChooseNearestBase(ClientTable& table, const OptionFlags& flags, uint32_t roverSocket) {
  ClientEntry* rover = FindClient(table, roverSocket);
  if (rover == nullptr) return 1;
  double current = kNoDistance;
  double best = kNoDistance;
  if (rover->links.size() == 1) {
    const ClientEntry* base = FindClient(table, rover->links.begin()->first);
    if (base != nullptr && TakesPart(*base, flags)) current = BaseDistance(rover->position, base->position);
  }
  ClientEntry* nearest = nullptr;
  uint32_t nearestSocket = 0;
  for (auto& [socket, entry] : table) {
    if (!TakesPart(entry, flags) || entry.dataFormat != rover->dataFormat) continue;
    const double distance = BaseDistance(rover->position, entry.position);
    if (distance < best) {
      best = distance;
      nearest = &entry;
      nearestSocket = socket;
    }
  }
  if (nearest == nullptr || !(best * kSwitchFactor < current)) return 1;

  // A rover never has more than one base.
  for (const auto& [baseSocket, name] : rover->links) {
    if (ClientEntry* previous = FindClient(table, baseSocket)) previous->links.erase(roverSocket);
  }
  rover->links.clear();
  nearest->links[roverSocket] = rover->userName;
  rover->links[nearestSocket] = nearest->userName;
  return 1;
}
