#pragma once
// RTCM 3 framing of the load tool's records (--rtcm3): each record travels as the payload of one
// frame of message 4095, so that a caster sees a valid RTCM 3 stream.
//
// Frame: 0xD3 | 6 zero bits and a 10-bit payload length | payload: message number 4095 in 12 bits,
// 4 zero bits, the record | CRC-24Q of everything before it (3 bytes, most significant first).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ntripload {

inline constexpr size_t kRtcm3MaxPayload = 1023;
inline constexpr size_t kRtcm3HeaderSize = 3;
inline constexpr size_t kRtcm3NumberSize = 2;  // message number 4095 and 4 zero bits
inline constexpr size_t kRtcm3CrcSize = 3;
// Frame bytes around a record.
inline constexpr size_t kRtcm3Overhead = kRtcm3HeaderSize + kRtcm3NumberSize + kRtcm3CrcSize;
// The largest record one frame carries.
inline constexpr size_t kRtcm3MaxRecord = kRtcm3MaxPayload - kRtcm3NumberSize;

// CRC-24Q (polynomial 0x1864CFB, register starting at 0) of the bytes; the low 24 bits.
uint32_t Crc24q(std::string_view bytes);

// Appends one frame carrying record (at most kRtcm3MaxRecord bytes) to out.
void AppendRtcm3Frame(std::string& out, std::string_view record);

// Takes frames out of a stream fed in any split. A frame whose check fails but which is followed
// right after its declared end by the next frame was altered in place: it is one damaged frame.
// Otherwise the stream was cut (whole chunks lost): the bytes up to the next intact frame are
// skipped. Bytes before the first intact frame (a rover joining mid-stream) are skipped too.
class Rtcm3Unwrapper {
 public:
  struct Frame {
    std::string record;  // the payload after the message number
    bool intact = true;  // false: a damaged frame, record empty
  };
  struct Counts {
    uint64_t frames = 0;  // intact frames
    uint64_t damaged = 0;
    uint64_t cuts = 0;
    uint64_t skippedBytes = 0;
  };

  // Feeds stream bytes; returns the frames completed by them, in stream order.
  std::vector<Frame> Feed(std::string_view bytes);
  const Counts& counts() const { return counts_; }

 private:
  // Handles the frame at the front of pending_; false when more bytes are needed.
  bool Step(std::vector<Frame>& found);
  // First offset at or after `from` where a frame of this stream may start, or npos.
  size_t FindStart(size_t from) const;
  // True when an intact frame starts at offset `at`; false also when it is not complete yet.
  bool IntactAt(size_t at) const;
  void Skip(size_t bytes);

  std::string pending_;
  bool synced_ = false;
  Counts counts_;
};

}  // namespace ntripload
