// A base's stream as the data dispatch handles it: searched for its format until one is found, then
// decoded by that format's decoder, which may hand it back to the search.
#include <climits>

#include "fuzz/DecoderBench.h"
#include "gnss/CmrDecoder.h"
#include "gnss/DataFormat.h"
#include "gnss/FormatSearch.h"
#include "gnss/RtcaDecoder.h"
#include "gnss/Rtcm3Decoder.h"

namespace {

// What the step that just ran promises to keep buffered.
int keptLimit = 0;

void Dispatch(DecoderContext& context, ClientEntry& base, const uint8_t* data, uint32_t length) {
  switch (static_cast<DataFormat>(base.dataFormat)) {
    case DataFormat::kUnknown:
      SearchDataFormat(context, base, data, length);
      // Unrecognised bytes are dropped past 1024; a recognised stream stays whole for its decoder.
      keptLimit = base.dataFormat == 0 ? 1024 : INT_MAX;
      break;
    case DataFormat::kRtca:
      DecodeRtca(context, base, data, length);
      keptLimit = 254;
      break;
    case DataFormat::kRtcm30:
    case DataFormat::kRtcm32Msm:
      DecodeRtcm3(context, base, data, length);
      keptLimit = 1028;
      break;
    case DataFormat::kCmr:
    case DataFormat::kScmrx:
      DecodeCmr(context, base, data, length);
      keptLimit = 260;
      break;
    default:
      keptLimit = INT_MAX;
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzDecoder(data, size, Dispatch, 0, keptLimit);
  return 0;
}
