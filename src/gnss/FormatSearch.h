#pragma once
// Recognition of a base's stream format from its first data: RTCM 3, then CMR, then RTCA, each
// tried on its first candidate frame in the buffered bytes, which stay for the decoder that takes
// over.
#include <cstdint>

#include "gnss/DecoderContext.h"

// Buffers one received chunk in the entry's stream buffer and tests it; sets dataFormat and tells
// the workspace tree on success. The buffer is emptied once it passes 1024 bytes unrecognised.
void SearchDataFormat(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length);
