#pragma once
// The nearest base of a rover that asked for a format instead of a base.
#include <array>
#include <cstdint>

#include "app/Settings.h"
#include "core/ClientEntry.h"

// Distance of a rover with no base, and of a base not found.
constexpr double kNoDistance = 999999999999999.0;
// A closer base wins only when its distance times this is below the current base's.
constexpr double kSwitchFactor = 1.2;

// sqrt(dlat^2 + dlon^2) x 3600 x 30: a plain degree measure scaled to roughly metres.
double BaseDistance(const std::array<double, 3>& rover, const std::array<double, 3>& base);

// A base takes part when it is a "BASE" and, for bases supplied through the upstream network (agent
// beginning "KavroNet"), fixedBase is on, for any other, movingBase.
bool TakesPart(const ClientEntry& entry, const OptionFlags& flags);

// Links the rover to the nearest taking-part base whose dataFormat is the rover's mode, unless its
// current base is not clearly farther (hysteresis kSwitchFactor); on equal distances the lower socket
// wins. Always 1.
int ChooseNearestBase(ClientTable& table, const OptionFlags& flags, uint32_t roverSocket);
