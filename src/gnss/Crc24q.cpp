#include "gnss/Crc24q.h"

#include <array>

namespace {

constexpr uint32_t kPolynomial = 0x1864CFB;
constexpr uint32_t kMask = 0xFFFFFF;

// kTables[k][v]: the register after byte v and then k zero bytes went through the bitwise
// algorithm from a zero register. Eight tables let eight bytes be folded in per step; by linearity
// the result is the bitwise one.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeTables() {
  std::array<std::array<uint32_t, 256>, 8> tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= kPolynomial;
    }
    tables[0][byte] = crc & kMask;
  }
  for (size_t k = 1; k < tables.size(); ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      const uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = ((previous << 8) & kMask) ^ tables[0][previous >> 16];
    }
  }
  return tables;
}

constexpr auto kTables = MakeTables();

}  // namespace

uint32_t Crc24q(const uint8_t* data, size_t n) {
  uint32_t crc = 0;
  const auto& t = kTables;
  for (; n >= 8; n -= 8, data += 8) {
    // The register overlaps the first three bytes of the eight.
    const uint32_t x0 = data[0] ^ (crc >> 16);
    const uint32_t x1 = data[1] ^ ((crc >> 8) & 0xFF);
    const uint32_t x2 = data[2] ^ (crc & 0xFF);
    crc = t[7][x0] ^ t[6][x1] ^ t[5][x2] ^ t[4][data[3]] ^ t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^
          t[0][data[7]];
  }
  for (; n > 0; --n, ++data) crc = ((crc << 8) & kMask) ^ t[0][(crc >> 16) ^ *data];
  return crc;
}
