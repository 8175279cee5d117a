// DecodeCmr on a base's stream delivered in pieces.
#include "fuzz/DecoderBench.h"
#include "gnss/CmrDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzDecoder(data, size, DecodeCmr, 4, 260);
  return 0;
}
