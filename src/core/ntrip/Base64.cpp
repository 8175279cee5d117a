#include "core/ntrip/Base64.h"

#include <array>
#include <cstdint>

std::string DecodeBase64(std::string_view text, std::string_view alphabet) {
  std::array<int, 256> value;
  value.fill(-1);
  for (size_t i = 0; i < alphabet.size() && i < 64; ++i)
    value[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  value['='] = -1;

  std::string out;
  uint32_t bits = 0;
  int symbols = 0;  // symbols of the current group
  for (const char c : text) {
    if (c == '=') {
      // Padding: the group's whole bytes so far, then the end.
      if (symbols == 2) out += static_cast<char>(bits >> 4);
      if (symbols == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>((bits >> 2) & 0xFF);
      }
      return out;
    }
    const int v = value[static_cast<unsigned char>(c)];
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++symbols == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>((bits >> 8) & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      symbols = 0;
    }
  }
  // A final group without padding: 6·k bits, of which the whole bytes count.
  const int totalBits = 6 * symbols;
  const int dropped = totalBits % 8;
  bits >>= dropped;
  for (int byte = totalBits / 8 - 1; byte >= 0; --byte) out += static_cast<char>((bits >> (8 * byte)) & 0xFF);
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) |
                           (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kBase64Symbols[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kBase64Symbols[(group >> 18) & 63];
    out += kBase64Symbols[(group >> 12) & 63];
    out += rest == 2 ? kBase64Symbols[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}
