#pragma once
// One base's entry and the decoder sinks, for the stream decoder targets: an options byte turns the
// console's decoder lines and the position records on, the rest of the input arrives in pieces.
#include <cstdint>
#include <string_view>

#include "app/MonitorEvents.h"
#include "core/ClientEntry.h"
#include "fuzz/FuzzInput.h"
#include "gnss/DecoderContext.h"

namespace fuzz {

class BenchConsole : public DecoderConsole {
 public:
  bool WantsDecoderLines(uint32_t) const override { return on; }
  void AddDecoderLine(std::string_view line) override { bytes += line.size(); }
  bool on = false;
  size_t bytes = 0;
};

// Log lines are only measured: printing them would cost most of a run.
class QuietMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { bytes += record.text.size(); }
  size_t bytes = 0;
};

using DecodeFunction = void (*)(DecoderContext&, ClientEntry&, const uint8_t*, uint32_t);

// Decodes the input as one base's stream of the given format; after every piece the stream buffer
// must hold at most keptLimit bytes, the most that the decoder promises to keep for the next chunk
// (read after each piece, so that a decode function may set it).
inline void FuzzDecoder(const uint8_t* data, size_t size, DecodeFunction decode, int32_t dataFormat,
                        const int& keptLimit) {
  FuzzInput input(data, size);
  const uint8_t options = input.TakeByte();
  DecoderMonitor monitor;
  BenchConsole console;
  console.on = (options & 1) != 0;
  PositionRecorder recorder;
  const int saveGga = (options >> 1) & 1;
  DecoderContext context{monitor, console, recorder, saveGga};
  ClientEntry entry;
  entry.socket = 7;
  entry.userName = "BASE1";
  entry.clientType = "NTRIP";
  entry.dataFormat = dataFormat;
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t) {
    decode(context, entry, piece, static_cast<uint32_t>(n));
    if (entry.streamBuffer) Require(entry.streamBuffer->Length() <= keptLimit, "stream buffer over its bound");
  });
}

}  // namespace fuzz
