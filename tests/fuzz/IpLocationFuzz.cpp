// The IP location file as the input: the header, the range search and the place records.
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "reports/IpLocation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  GbkToUtf8(bytes);
  NL_QQwry reader;
  if (!reader.Open(fuzz::ScratchFile("QQwry.dat", bytes))) return 0;
  const uint32_t count = reader.RecordCount();
  uint32_t tail = 0;
  if (size >= 4) std::memcpy(&tail, data + size - 4, 4);
  for (uint32_t address : {0u, 0xFFFFFFFFu, 0x7F000001u, 0x01020304u, tail}) reader.LocationText(address);
  for (uint32_t index : {0u, 1u, count / 2, count - 1, count, tail}) reader.PlaceText(index);
  reader.Lookup("10.0.0.9");
  return 0;
}
