// DecodeRtca on a base's stream delivered in pieces.
#include "fuzz/DecoderBench.h"
#include "gnss/RtcaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzDecoder(data, size, DecodeRtca, 1, 254);
  return 0;
}
