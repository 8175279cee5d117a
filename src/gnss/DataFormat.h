#pragma once
// Correction-stream formats of a base (the dataFormat field and its name), and their declaration
// by the base.
#include <cstdint>
#include <string_view>

#include "gnss/DecoderContext.h"

enum class DataFormat : int32_t {
  kUnknown = 0,  // searched by SearchDataFormat
  kRtca = 1,
  kRtcm23 = 2,
  kRtcm30 = 3,
  kCmr = 4,
  kRtd = 5,
  kRtcm32Msm = 6,
  kScmrx = 7,
};

// "RTCA", "RTCM23", ... for 1 to 7; empty for any other value.
std::string_view DataFormatName(DataFormat format);

// Sets dataFormat and dataFormatName of the entry to the format a base declares (exact,
// case-sensitive; "MSM" is "RTCM32-MSM"); other names change nothing. Tells the workspace tree
// when the entry then has a format.
void SetDataFormatByName(DecoderContext& context, ClientEntry& entry, std::string_view name);

// Sets both fields of the entry.
void SetDataFormat(ClientEntry& entry, DataFormat format);
