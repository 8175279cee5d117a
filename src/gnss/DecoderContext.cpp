#include "gnss/DecoderContext.h"

#include <cstring>

#include "core/StrFormat.h"

std::string ChunkLine(const std::string& userName, const uint8_t* data, uint32_t length, size_t maxText) {
  uint8_t head[8] = {};
  if (length > 0) std::memcpy(head, data, length < sizeof head ? length : sizeof head);
  const size_t limit = length < maxText ? length : maxText;
  const void* zero = limit > 0 ? std::memchr(data, 0, limit) : nullptr;
  const size_t textLength =
      zero == nullptr ? limit : static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
  std::string line = StrFormat("%s <--[%d] %02X %02X %02X %02X %02X %02X %02X %02X ", userName.c_str(),
                               static_cast<int>(length), head[0], head[1], head[2], head[3], head[4], head[5],
                               head[6], head[7]);
  line.append(reinterpret_cast<const char*>(data), textLength);
  return line;
}
