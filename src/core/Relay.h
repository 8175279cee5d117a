#pragma once
// Ties rovers to bases, and delivers to rovers what their outgoing connections receive.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ClientEntry.h"

class CKavroGyBl;

// Most bytes of one upstream block that reach a rover; longer blocks are cut.
constexpr size_t kUpstreamBlockLimit = 8192;

// The 25-byte RTCM 3 frame (message 4093, "outside the measuring range") sent instead of upstream
// RTCM 3.2 data to a rover outside its work area.
extern const uint8_t kOutOfAreaFrame[25];

// Links a rover to the first base whose user name is the mountpoint (leaving its previous base);
// 1 when linked, 0 when no such base exists.
int LinkToBase(ClientTable& table, const std::string& mountpoint, uint32_t roverSocket);
// The same, looking for the base among the indexed sockets only; the index must hold every base.
int LinkToBase(ClientTable& table, const BaseIndex& bases, const std::string& mountpoint, uint32_t roverSocket);

// Upstream data for a rover (message 3028).
void RoverUpstreamData(CKavroGyBl& gybl, uint32_t socket, const uint8_t* data, size_t length);

// An outgoing connection ended (message 3030): a rover's (socket not 0) closes that rover; a server
// link's (socket 0) ends the upstream mountpoints when no other link is connected.
void OutgoingClosed(CKavroGyBl& gybl, uint32_t socket);
