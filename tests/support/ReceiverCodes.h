#pragma once
// The receiver's side of the receiver code: fields coded with the rotated alphabet.
#include <string>

#include "app/Settings.h"

namespace testsupport {

// Encodes bytes with the alphabet rotated left by r (the receiver's side of the coding).
inline std::string Encode(const std::string& bytes, int r) {
  std::string alphabet = kDefaultReceiverAlphabet;
  alphabet = alphabet.substr(r) + alphabet.substr(0, r);
  std::string out;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[(group >> shift) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = static_cast<unsigned char>(bytes[i]);
    out += alphabet[v >> 2];
    out += alphabet[(v & 3) << 4];
  }
  return out;
}

}  // namespace testsupport
