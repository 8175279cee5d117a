#pragma once
// CRC-24Q of RTCM 3 frames, and the most-significant-bit-first field reader of their payloads.
#include <cstddef>
#include <cstdint>

// CRC-24Q (polynomial 0x1864CFB, register starting at 0) of n bytes; the low 24 bits.
uint32_t Crc24q(const uint8_t* data, size_t n);

// Reads fields of up to 38 bits, most significant bit first. Bits past the end read as zero and
// mark the reader as overrun, so that a short payload never reads outside its frame.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t n) : next_(data), end_(data + n) {}

  uint64_t GetBits(int n) {
    while (bits_ < n) {
      uint64_t byte = 0;
      if (next_ < end_) {
        byte = *next_++;
      } else {
        overrun_ = true;
      }
      accumulator_ = (accumulator_ << 8) | byte;
      bits_ += 8;
    }
    bits_ -= n;
    return (accumulator_ >> bits_) & ((uint64_t{1} << n) - 1);
  }

  // True once a field reached past the end of the data.
  bool Overrun() const { return overrun_; }

 private:
  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t accumulator_ = 0;
  int bits_ = 0;
  bool overrun_ = false;
};

// Two's-complement value of the low `width` bits.
inline int64_t SignExtend(uint64_t value, int width) {
  const uint64_t sign = uint64_t{1} << (width - 1);
  return static_cast<int64_t>((value ^ sign) - sign);
}
