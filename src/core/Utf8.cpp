#include "core/Utf8.h"

size_t Utf8SequenceLength(std::string_view text, size_t i, uint32_t* code) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t minimum = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    length = 1, value = lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  if (code != nullptr) *code = value;
  return length;
}
