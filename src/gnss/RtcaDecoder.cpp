#include "gnss/RtcaDecoder.h"

#include <cmath>
#include <cstring>

#include "core/StrFormat.h"
#include "gnss/Crc24q.h"
#include "gnss/Geodesy.h"

namespace {

constexpr uint8_t kSync = 0x99;
constexpr int kHeaderBytes = 6;
constexpr int kMinBuffered = 24;  // the length of a station position frame
constexpr int kStationFrameLength = 24;
constexpr double kMaxHeight = 43000.0;  // metres; higher positions are not a base's
constexpr size_t kChunkTextLimit = 50;

void StationPosition(DecoderContext& context, ClientEntry& entry, const uint8_t* header, const uint8_t* data,
                     int dataLength, std::string* trace) {
  BitReader reader(data, static_cast<size_t>(dataLength));
  reader.GetBits(11);  // data byte 0 and the message type
  const double x = SignExtend(reader.GetBits(35), 35) / 1000.0;
  const double y = SignExtend(reader.GetBits(35), 35) / 1000.0;
  const double z = SignExtend(reader.GetBits(35), 35) / 1000.0;
  const CoordBLH blh = XYZtoBLH_WGS84(x, y, z);
  const double latitude = RadiansToDegrees(blh.B);
  const double longitude = RadiansToDegrees(blh.L);
  if (latitude != entry.position[0] && std::fabs(blh.H) < kMaxHeight) {
    entry.statusText = RtcaStationId(header);
    entry.position = {latitude, longitude, blh.H};
    context.monitor.OnMap(kMapBasePosition, &entry);
    if (context.saveGga)
      context.recorder.RecordPosition(entry.userName, "BASE_RTCA\r\n", latitude, longitude, blh.H);
  }
  if (trace != nullptr) {
    *trace = StrFormat("坐标 %d %2X %.3f %.3f %.3f %f %f H=%f", dataLength, dataLength, x, y, z,
                       entry.position[0], entry.position[1], blh.H);
  }
}

}  // namespace

std::string RtcaStationId(const uint8_t* frame) {
  const uint32_t bits = (uint32_t{frame[3]} << 16) | (uint32_t{frame[2]} << 8) | frame[1];
  std::string id(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<char>((bits >> (18 - 6 * i)) & 0x3F);
    id[static_cast<size_t>(i)] = c < 48 ? static_cast<char>(c + 64) : c;
  }
  return id;
}

void DecodeRtca(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length) {
  CBuffer& buffer = StreamBuffer(entry);
  buffer.Write(data, static_cast<int>(length));
  if (buffer.Length() < kMinBuffered) return;

  const bool traced = context.console.WantsDecoderLines(entry.socket);
  std::string trace;
  std::string line;
  // Frames are read in place; what they used is removed from the front once, at the end.
  const uint8_t* bytes = buffer.Data();
  const int total = buffer.Length();
  int start = 0;
  for (;;) {
    trace.clear();
    const auto* sync = static_cast<const uint8_t*>(std::memchr(bytes + start, kSync, total - start));
    if (sync == nullptr) {
      start = total;
      if (traced) line = ChunkLine(entry.userName, data, length, kChunkTextLimit);
    } else {
      start = static_cast<int>(sync - bytes);
      if (total - start <= kHeaderBytes) break;
      const int frameLength = sync[5];
      const int dataLength = frameLength - kHeaderBytes;
      start += kHeaderBytes;
      if (dataLength <= 0) {
        // A length that leaves no data drops its header, and framing goes on behind it: stopping
        // here would let each chunk add more than one such header removes.
        if (total - start < kMinBuffered) break;
        continue;
      }
      if (total - start < dataLength) {
        start -= kHeaderBytes;  // cut frame: wait for the rest, header included
        break;
      }
      const uint8_t* frameData = sync + kHeaderBytes;
      start += dataLength;
      // A one-byte frame has no data byte 1; it reads as zero.
      const int byte1 = dataLength > 1 ? frameData[1] : 0;
      if (traced) trace = StrFormat("其他 %2d %2X  %d", dataLength, dataLength, byte1 * 256 + frameData[0]);
      if (frameData[0] == 'N') {
        ++entry.formatState;
        const int messageType = byte1 >> 5;
        if (messageType == 0 && frameLength == kStationFrameLength) {
          StationPosition(context, entry, sync, frameData, dataLength, traced ? &trace : nullptr);
        } else if (messageType == 1 && traced) {
          trace = StrFormat("载波 %d %2X N0.=%d", frameLength, frameLength, (2 * frameLength - 34) / 23);
        }
      }
      if (traced) line = entry.userName + " <-- " + trace;
    }
    if (traced) context.console.AddDecoderLine(line);
    if (total - start < kMinBuffered) break;
  }
  // What stays is fewer than 24 bytes or one cut frame (at most 254 bytes).
  if (start >= total) {
    buffer.Clear();
  } else if (start > 0) {
    buffer.Delete(start, 0);
  }
}
