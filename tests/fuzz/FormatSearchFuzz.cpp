// SearchDataFormat on a base's stream delivered in pieces.
#include "fuzz/DecoderBench.h"
#include "gnss/FormatSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzDecoder(data, size, SearchDataFormat, 0, 1024);
  return 0;
}
