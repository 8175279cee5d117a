#include "gnss/DataFormat.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 8> kNames = {"",    "RTCA", "RTCM23",     "RTCM30",
                                                    "CMR", "RTD",  "RTCM32-MSM", "sCMRx"};

}  // namespace

std::string_view DataFormatName(DataFormat format) {
  const auto value = static_cast<int32_t>(format);
  if (value < 1 || value >= static_cast<int32_t>(kNames.size())) return {};
  return kNames[static_cast<size_t>(value)];
}

void SetDataFormat(ClientEntry& entry, DataFormat format) {
  entry.dataFormat = static_cast<int32_t>(format);
  entry.dataFormatName = DataFormatName(format);
}

void SetDataFormatByName(DecoderContext& context, ClientEntry& entry, std::string_view name) {
  if (name == "MSM") {
    SetDataFormat(entry, DataFormat::kRtcm32Msm);
  } else {
    for (int32_t value = 1; value < static_cast<int32_t>(kNames.size()); ++value) {
      if (name == kNames[static_cast<size_t>(value)]) SetDataFormat(entry, static_cast<DataFormat>(value));
    }
  }
  if (entry.dataFormat != 0) context.monitor.OnTree(kTreeFormatKnown, &entry, 0);
}
