#include "gnss/Crc24q.h"

#include <array>

namespace {

constexpr uint32_t kPolynomial = 0x1864CFB;

// Register contents after shifting one byte through the bitwise algorithm, for every byte value.
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= kPolynomial;
    }
    table[byte] = crc & 0xFFFFFF;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc24q(const uint8_t* data, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = ((crc << 8) & 0xFFFFFF) ^ kTable[(crc >> 16) ^ data[i]];
  return crc;
}
