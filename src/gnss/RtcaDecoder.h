#pragma once
// RTCA stream of a base: frames counted, the station position read from message type 0 with the
// four-letter station identifier, and the satellite count of carrier observations traced. It only
// reads.
#include <cstdint>
#include <string>

#include "gnss/DecoderContext.h"

// Four characters of the 24-bit station identifier (frame bytes 1 to 3, read byte 3 first).
std::string RtcaStationId(const uint8_t* frame);

// Buffers one received chunk in the entry's stream buffer and decodes the whole frames found.
void DecodeRtca(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length);
