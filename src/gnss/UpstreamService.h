#pragma once
// Rovers on upstream mountpoints (modes 11 and above) are served by the network server of a link slot
// that covers their position: the choice of the slot and the GETMODE line that opens the service.
#include <array>
#include <string>

#include "app/KavroGyBl.h"

// The first slot from `from` on (stopping at the first unconfigured one) whose server is connected and
// whose rectangle holds the position (or that sent none); -1 when there is none.
int ChooseUpstreamSlot(const std::array<LinkSlot, kLinkSlots>& slots,
                       const std::array<LinkSlotState, kLinkSlots>& states, double latitude, double longitude,
                       int from);

// "VORAN,GETMODE,..." for a rover: the upstream mountpoint's name, the user, the work area's switches
// and its seven parameters (DX, DY, DZ with five decimals, RX, RY, RZ, SF with twelve).
std::string GetModeLine(const std::string& mountpoint, const ClientEntry& rover);
