#pragma once
// CMR-family stream of a base (CMR, CMR+, sCMRx): packets checked and counted, the reference
// position read from message type 1, sCMRx recognised by its version, and the base handed back to
// the format search when the stream stops looking like CMR before two good packets. It only reads.
#include <cstddef>
#include <cstdint>

#include "gnss/DecoderContext.h"

// A packet of `length` bytes ends in 0x03 preceded by the 8-bit sum of its bytes 1 to length - 3.
bool CmrChecksumOk(const uint8_t* packet, size_t length);

// Buffers one received chunk in the entry's stream buffer and decodes the whole packets found.
void DecodeCmr(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length);
