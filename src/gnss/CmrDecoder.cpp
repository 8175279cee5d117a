#include "gnss/CmrDecoder.h"

#include <cstring>
#include <string>

#include "core/StrFormat.h"
#include "gnss/Crc24q.h"
#include "gnss/DataFormat.h"
#include "gnss/Geodesy.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr int kMinBuffered = 10;  // fewer buffered bytes only wait
constexpr int kHeaderBytes = 4;   // STX, status, type, length
constexpr int kKeepBuffered = 10;
constexpr int kScmrxVersion = 5;
constexpr int kReferencePositionBytes = 23;  // data bytes up to the end of Z
constexpr size_t kMaxConsoleTrace = 1024;

bool IsCmrType(uint8_t type) { return type == 0x93 || type == 0x94 || type == 0x98; }

// Index of the first 0x02 0x00 pair at or after from, or -1.
int FindPacketStart(const uint8_t* bytes, int from, int total) {
  while (from + 1 < total) {
    const auto* stx = static_cast<const uint8_t*>(std::memchr(bytes + from, kStx, total - from - 1));
    if (stx == nullptr) return -1;
    if (stx[1] == 0x00) return static_cast<int>(stx - bytes);
    from = static_cast<int>(stx - bytes) + 1;
  }
  return -1;
}

// 34-bit two's-complement coordinate in millimetres starting at data byte `at`.
int64_t Coordinate34(const uint8_t* data, int at) {
  BitReader reader(data + at, 5);
  return SignExtend(reader.GetBits(34), 34);
}

void ReferencePosition(DecoderContext& context, ClientEntry& entry, const uint8_t* data, int station,
                       std::string* trace) {
  const double x = Coordinate34(data, 6) / 1000.0;
  const double y = Coordinate34(data, 12) / 1000.0;
  const double z = Coordinate34(data, 18) / 1000.0;
  const CoordBLH blh = XYZtoBLH_WGS84(x, y, z);
  const double latitude = RadiansToDegrees(blh.B);
  const double longitude = RadiansToDegrees(blh.L);
  if (latitude != entry.position[0]) {
    entry.statusText = StrFormat("%02d", station);
    entry.position = {latitude, longitude, blh.H};
    if (context.saveGga)
      context.recorder.RecordPosition(entry.userName, "BASE_CMR\r\n", latitude, longitude, blh.H);
    context.monitor.OnMap(kMapBasePosition, &entry);
  }
  if (trace != nullptr) {
    *trace = StrFormat("%d check Ok                          %12.8f %12.8f H=%f", 1, entry.position[0],
                       entry.position[1], blh.H);
  }
}

// A packet whose checksum and end byte are good.
void GoodPacket(DecoderContext& context, ClientEntry& entry, const uint8_t* packet, std::string* trace) {
  const uint8_t type = packet[2];
  const int dataLength = packet[3];
  // Header fields past the end of a short packet read as zero.
  uint8_t header[5] = {};
  std::memcpy(header, packet + kHeaderBytes, dataLength < 5 ? dataLength : 5);
  const int version = header[0] >> 5;
  const int station = header[0] & 0x1F;
  const int messageType = header[1] >> 5;
  const int satellites = header[1] & 0x1F;
  const int epochMs = (header[2] << 10) | (header[3] << 2) | (header[4] >> 6);

  ++entry.formatState;
  if (trace != nullptr) *trace = StrFormat("%0x Version=%d  Message=%d check Ok", type, version, messageType);
  if (version == kScmrxVersion) {
    if (entry.dataFormat != static_cast<int32_t>(DataFormat::kScmrx)) {
      SetDataFormat(entry, DataFormat::kScmrx);
      context.monitor.OnTree(kTreeFormatKnown, &entry, 0);
    }
  } else if (messageType == 0) {
    if (trace != nullptr) {
      *trace = StrFormat("%0x Version=%d  Message=%d check Ok Num=%d %7.3f", type, version, 0, satellites,
                         epochMs / 1000.0);
    }
  } else if (messageType == 1 && dataLength >= kReferencePositionBytes) {
    ReferencePosition(context, entry, packet + kHeaderBytes, station, trace);
  }
  if (type == 0x94 && trace != nullptr) *trace += "  CMR+";
}

}  // namespace

bool CmrChecksumOk(const uint8_t* packet, size_t length) {
  if (length < 2) return false;
  if (packet[length - 1] != kEtx) return false;
  uint8_t sum = 0;
  for (size_t i = 1; i + 2 < length; ++i) sum = static_cast<uint8_t>(sum + packet[i]);
  return packet[length - 2] == sum;
}

void DecodeCmr(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length) {
  CBuffer& buffer = StreamBuffer(entry);
  buffer.Write(data, static_cast<int>(length));
  // The buffered bytes count, not the chunk's: a base may send its packets a few bytes at a time.
  if (buffer.Length() < kMinBuffered) return;

  const bool traced = context.console.WantsDecoderLines(entry.socket);
  std::string trace;
  // Packets are read in place; what they used is removed from the front once, at the end.
  const uint8_t* bytes = buffer.Data();
  const int total = buffer.Length();
  int start = 0;
  for (;;) {
    trace.clear();
    const int found = FindPacketStart(bytes, start, total);
    if (found < 0) {
      // A last 0x02 may start the pair that the next chunk completes: it stays.
      start = bytes[total - 1] == kStx ? total - 1 : total;
      if (traced) trace = "Delete ALL";
      // Not CMR after all: the format search takes the stream again.
      if (entry.formatState < 2) entry.dataFormat = static_cast<int32_t>(DataFormat::kUnknown);
    } else {
      start = found;
      if (total - start <= 6) break;
      const uint8_t* packet = bytes + start;
      const int dataLength = packet[3];
      start += kHeaderBytes;
      if (IsCmrType(packet[2])) {
        if (total - start < dataLength + 2) {
          start -= kHeaderBytes;  // cut packet: wait for the rest, header included
          break;
        }
        start += dataLength + 2;
        if (!CmrChecksumOk(packet, static_cast<size_t>(dataLength) + 6)) {
          if (traced) trace = "CMR check fail";
        } else {
          GoodPacket(context, entry, packet, traced ? &trace : nullptr);
        }
      }
    }
    if (traced && trace.size() < kMaxConsoleTrace)
      context.console.AddDecoderLine(entry.userName + " <-- " + trace);
    if (total - start <= kKeepBuffered) break;
  }
  // What stays is at most one cut packet (255 data bytes and 6 of framing, less one).
  if (start >= total) {
    buffer.Clear();
  } else if (start > 0) {
    buffer.Delete(start, 0);
  }
}
