#pragma once
// What the stream decoders report to: the monitor, the debug console's decoder lines and the
// position records. The defaults of the sinks do nothing, so decoders run on their own. A sink must
// not touch the stream buffer of the entry being decoded.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ClientEntry.h"
#include "gnss/DecoderMonitor.h"

// Receiver of decoder lines for the debug console.
class DecoderConsole {
 public:
  virtual ~DecoderConsole() = default;
  // True while the console is shown with "Decoder" on and watches this socket. Decoders only
  // compose their lines when it is.
  virtual bool WantsDecoderLines(uint32_t /*socket*/) const { return false; }
  // True while the console is shown and watches this socket, in either of its modes.
  virtual bool WatchesSocket(uint32_t socket) const { return WantsDecoderLines(socket); }
  // One decoder line; it may hold any byte a base sent.
  virtual void AddDecoderLine(std::string_view /*line*/) {}
};

// The position trail of the activity records.
class PositionRecorder {
 public:
  virtual ~PositionRecorder() = default;
  // Records a base position (latitude and longitude in degrees, height in metres) under a name with
  // its GGA text; 1, or 0 when it could not be written.
  virtual int RecordPosition(const std::string& /*name*/, const std::string& /*gga*/, double /*b*/,
                             double /*l*/, double /*h*/) {
    return 1;
  }
};

// Monitor codes the decoders send.
constexpr int kMapBasePosition = 6;  // 1529: a base's position changed
constexpr int kTreeFormatKnown = 6;  // 1525: a base's format became known

struct DecoderContext {
  DecoderMonitor& monitor;
  DecoderConsole& console;
  PositionRecorder& recorder;
  const int& saveGga;  // the "SET" flag, read at each position change
};

// Console line of a chunk that no frame explains: "%s <--[%d]" with the user name and the chunk
// length, the chunk's first eight bytes in hexadecimal (00 past its end) and the chunk as text (up to
// its first zero byte, at most maxText bytes).
std::string ChunkLine(const std::string& userName, const uint8_t* data, uint32_t length, size_t maxText);

// The entry's stream buffer, created when the entry has none.
inline CBuffer& StreamBuffer(ClientEntry& entry) {
  if (!entry.streamBuffer) entry.streamBuffer = std::make_unique<CBuffer>();
  return *entry.streamBuffer;
}
