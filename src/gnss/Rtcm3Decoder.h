#pragma once
// RTCM 3 stream of a base: frames checked with CRC-24Q and counted, the base position taken from the
// station messages 1005 and 1006, the transformation messages 1021 and 1023 noted, and the switch
// to RTCM32-MSM on the first multiple-signal message. It only reads: the chunk relayed to rovers
// is never touched.
#include <cstdint>

#include "gnss/DecoderContext.h"

// Buffers one received chunk in the entry's stream buffer and decodes the whole frames found.
void DecodeRtcm3(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length);
