#pragma once
// Removes the HTTP chunk framing ("Transfer-Encoding: chunked") from an upload body. Fed the body as
// it arrives, in pieces of any size; chunk headers may be split across pieces. Pure: no I/O.
#include <cstddef>
#include <cstdint>

class ChunkedDecoder {
 public:
  enum class Status : uint8_t {
    kMore,   // the body goes on
    kEnd,    // the last (zero-size) chunk and its trailer were read; later bytes are not body
    kError,  // a malformed chunk header or chunk end; nothing more is decoded
  };
  struct Result {
    size_t length;  // decoded bytes, at the front of the piece
    Status status;
  };

  // Longest chunk header line (size, extensions) and trailer line taken.
  static constexpr uint16_t kLineLimit = 1024;
  // Most significant hex digits of a chunk size (32-bit sizes).
  static constexpr uint8_t kSizeDigits = 8;

  // Decodes a piece in place: the body bytes are moved to its front.
  Result Decode(uint8_t* piece, size_t n);
  Status status() const { return status_; }

 private:
  enum class State : uint8_t {
    kSize,          // hex digits of a chunk size
    kSizeEnd,       // blanks after the digits, before ";" or CR
    kExtension,     // ";" and what follows up to CR
    kSizeLf,        // LF after the size line
    kData,          // chunk data
    kDataCr,        // CR after the data
    kDataLf,        // LF after the data
    kTrailerStart,  // start of a trailer line, or CR of the final empty line
    kTrailer,       // a trailer line up to CR
    kTrailerLf,     // LF after a trailer line
    kFinalLf,       // LF of the final empty line
  };
  bool Step(uint8_t byte);  // one byte outside chunk data; false on malformed input

  uint32_t remaining_ = 0;  // data bytes left in the current chunk, or the size being read
  uint16_t lineBytes_ = 0;
  uint8_t digits_ = 0;  // significant digits of the size being read
  bool anyDigit_ = false;
  State state_ = State::kSize;
  Status status_ = Status::kMore;
};
