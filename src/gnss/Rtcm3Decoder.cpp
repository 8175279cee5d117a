#include "gnss/Rtcm3Decoder.h"

#include <bit>
#include <cstring>
#include <string>

#include "core/StrFormat.h"
#include "gnss/Crc24q.h"
#include "gnss/DataFormat.h"
#include "gnss/Geodesy.h"

namespace {

constexpr uint8_t kPreamble = 0xD3;
constexpr int kMinBuffered = 20;    // decoding starts once this many bytes wait
constexpr int kKeepBuffered = 100;  // at most this many bytes are left for the next chunk
constexpr int kFrameOverhead = 6;   // preamble, length and CRC
constexpr size_t kMaxConsoleTrace = 1024;

bool IsObservation(int message) {
  return (message >= 1001 && message <= 1004) || message == 4001 || message == 4044;
}

bool IsMsm(int message) {
  const int group = message / 10;
  const int kind = message % 10;
  return group >= 107 && group <= 112 && kind >= 1 && kind <= 7;
}

// Station position of 1005 and 1006: changes the entry when the latitude changed.
void StationPosition(DecoderContext& context, ClientEntry& entry, BitReader& reader, int message, int length,
                     std::string* trace) {
  const int station = static_cast<int>(reader.GetBits(12));
  reader.GetBits(6);  // ITRF year
  reader.GetBits(4);  // indicators
  const int64_t x = SignExtend(reader.GetBits(38), 38);
  reader.GetBits(2);
  const int64_t y = SignExtend(reader.GetBits(38), 38);
  reader.GetBits(2);
  const int64_t z = SignExtend(reader.GetBits(38), 38);
  if (reader.Overrun()) return;

  const CoordBLH blh = XYZtoBLH_WGS84(x / 10000.0, y / 10000.0, z / 10000.0);
  const double latitude = RadiansToDegrees(blh.B);
  const double longitude = RadiansToDegrees(blh.L);
  // Only a new latitude counts as a move; NaN never compares equal.
  if (latitude != entry.position[0]) {
    entry.statusText = StrFormat("%04d", station);
    entry.position = {latitude, longitude, blh.H};
    context.monitor.OnMap(kMapBasePosition, &entry);
    if (context.saveGga)
      context.recorder.RecordPosition(entry.userName, "BASE_RTCM3\r\n", latitude, longitude, blh.H);
  }
  if (trace != nullptr) {
    *trace = StrFormat("check %d Length =%3d OK                           %12.8f %12.8f H=%f", message,
                       length, entry.position[0], entry.position[1], blh.H);
  }
}

// One frame that passed its check.
void HandleFrame(DecoderContext& context, ClientEntry& entry, const uint8_t* frame, int payloadLength,
                 std::string* trace) {
  const int length = payloadLength + kFrameOverhead;
  BitReader reader(frame + 3, static_cast<size_t>(payloadLength));
  const int message = static_cast<int>(reader.GetBits(12));
  if (trace != nullptr) *trace = StrFormat("check %d Length =%d OK ", message, length);
  ++entry.formatState;

  const bool glonass = message >= 1009 && message <= 1012;
  if (IsObservation(message) || glonass) {
    reader.GetBits(12);                 // station
    reader.GetBits(glonass ? 27 : 30);  // epoch
    reader.GetBits(1);                  // synchronous
    const int satellites = static_cast<int>(reader.GetBits(5));
    if (!reader.Overrun() && trace != nullptr) {
      *trace = StrFormat("check %d Length =%3d OK SatNum=%d", message, length, satellites);
    }
  } else if (message == 1005 || message == 1006) {
    StationPosition(context, entry, reader, message, length, trace);
  } else if (message == 1021) {
    entry.formatFlagA = 1;
  } else if (message == 1023) {
    entry.formatFlagB = 1;
  } else if (IsMsm(message)) {
    // station 12, epoch 30, multiple message 1, IODS 3, reserved 7, clock steering 2, external
    // clock 2, smoothing 1, smoothing interval 3: 61 bits before the satellite mask.
    reader.GetBits(30);
    reader.GetBits(31);
    const uint64_t maskHigh = reader.GetBits(32);
    const uint64_t mask = (maskHigh << 32) | reader.GetBits(32);
    if (reader.Overrun()) return;
    const int satellites = std::popcount(mask);
    if (entry.dataFormat != static_cast<int32_t>(DataFormat::kRtcm32Msm)) {
      SetDataFormat(entry, DataFormat::kRtcm32Msm);
      context.monitor.OnTree(kTreeFormatKnown, &entry, 0);
    }
    if (trace != nullptr)
      *trace = StrFormat("check %d Length =%3d OK SatNum=%d", message, length, satellites);
  }
}

uint32_t FrameCrc(const uint8_t* crcBytes) {
  return (uint32_t{crcBytes[0]} << 16) | (uint32_t{crcBytes[1]} << 8) | crcBytes[2];
}

}  // namespace

void DecodeRtcm3(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length) {
  CBuffer& buffer = StreamBuffer(entry);
  buffer.Write(data, static_cast<int>(length));
  if (buffer.Length() < kMinBuffered) return;

  const bool traced = context.console.WantsDecoderLines(entry.socket);
  std::string trace;
  // Frames are read in place; what they used is removed from the front once, at the end.
  const uint8_t* bytes = buffer.Data();
  const int total = buffer.Length();
  int start = 0;
  for (;;) {
    const auto* sync = static_cast<const uint8_t*>(std::memchr(bytes + start, kPreamble, total - start));
    if (sync == nullptr) {
      start = total;
      break;
    }
    start = static_cast<int>(sync - bytes);
    const int available = total - start;
    if (available <= kFrameOverhead) break;
    const int payloadLength = ((sync[1] & 3) << 8) | sync[2];
    if (available < payloadLength + kFrameOverhead) break;
    start += payloadLength + kFrameOverhead;

    trace.clear();
    if (Crc24q(sync, static_cast<size_t>(payloadLength) + 3) != FrameCrc(sync + payloadLength + 3)) {
      if (traced) trace = "RTCM V3 check fail ";
    } else {
      HandleFrame(context, entry, sync, payloadLength, traced ? &trace : nullptr);
    }
    if (traced && trace.size() < kMaxConsoleTrace)
      context.console.AddDecoderLine(entry.userName + " <-- " + trace);
    if (total - start <= kKeepBuffered) break;
  }
  // What stays is at most 100 bytes or one cut frame (at most 1028 bytes).
  if (start >= total) {
    buffer.Clear();
  } else if (start > 0) {
    buffer.Delete(start, 0);
  }
}
