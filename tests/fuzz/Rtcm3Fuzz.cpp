// DecodeRtcm3 on a base's stream delivered in pieces.
#include "fuzz/DecoderBench.h"
#include "gnss/Rtcm3Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzDecoder(data, size, DecodeRtcm3, 3, 1028);
  return 0;
}
