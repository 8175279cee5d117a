#pragma once
// Helpers for the stream decoder tests: frames built bit by bit, sinks that record what the
// decoders report, and the recorded real streams of the shared data folder.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/MonitorEvents.h"
#include "core/ClientEntry.h"
#include "gnss/DecoderContext.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// Packs fields given as value, width, value, width ... most significant bit first; negative values
// in two's complement.
inline Bytes Bits(std::initializer_list<int64_t> fields) {
  Bytes bytes;
  int used = 0;
  for (auto field = fields.begin(); field != fields.end(); field += 2) {
    const int64_t value = field[0];
    for (int bit = static_cast<int>(field[1]) - 1; bit >= 0; --bit, ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      if ((static_cast<uint64_t>(value) >> bit) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
    }
  }
  return bytes;
}

// CRC-24Q computed bit by bit, as the transport layer defines it.
inline uint32_t BitwiseCrc24q(const uint8_t* data, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= 0x1864CFB;
    }
  }
  return crc & 0xFFFFFF;
}

// D3, 6 zero bits, the 10-bit length, the payload and its CRC-24Q.
inline Bytes Rtcm3Frame(const Bytes& payload) {
  Bytes frame = {0xD3, static_cast<uint8_t>(payload.size() >> 8),
                 static_cast<uint8_t>(payload.size() & 0xFF)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  const uint32_t crc = BitwiseCrc24q(frame.data(), frame.size());
  frame.push_back(static_cast<uint8_t>(crc >> 16));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc));
  return frame;
}

// Station message 1005 or 1006 (with an antenna height) with coordinates in units of 0.1 mm.
inline Bytes StationFrame(int message, int station, int64_t x, int64_t y, int64_t z) {
  return Rtcm3Frame(Bits({message, 12, station, 12, 0, 10, x, 38, 0, 2, y, 38, 0, 2, z, 38,
                          message == 1006 ? 1234 : 0, message == 1006 ? 16 : 0}));
}

// MSM header (61 bits after the message number) with a satellite mask, then a little cell data.
inline Bytes MsmFrame(int message, uint64_t mask) {
  return Rtcm3Frame(Bits({message, 12, 7, 12, 123456, 30, 0, 19, static_cast<int64_t>(mask >> 32), 32,
                          static_cast<int64_t>(mask & 0xFFFFFFFF), 32, 0xABCDEF, 24}));
}

// STX, status 0, type, length, data, checksum, ETX.
inline Bytes CmrPacket(uint8_t type, const Bytes& data) {
  Bytes packet = {0x02, 0x00, type, static_cast<uint8_t>(data.size())};
  packet.insert(packet.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < packet.size(); ++i) sum = static_cast<uint8_t>(sum + packet[i]);
  packet.push_back(sum);
  packet.push_back(0x03);
  return packet;
}

// Data of a CMR observables message (type 0) with a satellite count and an epoch in milliseconds.
inline Bytes CmrObservables(int version, int station, int satellites, int epochMs) {
  Bytes data = Bits({version, 3, station, 5, 0, 3, satellites, 5, epochMs, 18, 0, 6});
  data.resize(data.size() + 12, 0x5A);
  return data;
}

// Data of a CMR reference position (type 1): X, Y and Z in millimetres at data bytes 6, 12 and 18,
// other bits set so that a field read one bit off shows.
inline Bytes CmrReference(int version, int station, int64_t x, int64_t y, int64_t z) {
  return Bits({version, 3,  station, 5,  1, 3,  0,      5,  1000, 18, 0,      6,  0x11, 8,
               x,       34, 0x3FFF,  14, y, 34, 0x3FFF, 14, z,    34, 0x3FFF, 14, 0x44, 8});
}

// RTCA frame: 0x99, the station identifier bits (byte 1 lowest), a spare byte, the total length and
// the data.
inline Bytes RtcaFrame(uint32_t stationBits, const Bytes& data) {
  Bytes frame = Bits({0x99, 8, stationBits & 0xFF, 8, (stationBits >> 8) & 0xFF, 8, stationBits >> 16, 8, 0,
                      8, static_cast<int64_t>(data.size() + 6), 8});
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

// Data of an RTCA station position: "N", message type 0 and three 35-bit coordinates in millimetres.
inline Bytes RtcaPosition(int64_t x, int64_t y, int64_t z) {
  return Bits({'N', 8, 0, 3, x, 35, y, 35, z, 35, 0, 28});  // 18 bytes
}

// Data of RTCA carrier observations ("N", message type 1) of a given frame length.
inline Bytes RtcaCarrier(int frameLength) {
  Bytes data(static_cast<size_t>(frameLength - 6), 0x21);
  data[0] = 'N';
  data[1] = 0x20;
  return data;
}

// Station identifier bits from four 6-bit values, most significant first.
inline uint32_t RtcaStationBits(int a, int b, int c, int d) {
  return static_cast<uint32_t>((a << 18) | (b << 12) | (c << 6) | d);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct MonitorCall {
  int message;  // 1525 or 1529
  int code;
  const ClientEntry* entry;
};

class RecordingMonitor : public MonitorEvents {
 public:
  void OnTree(int code, const ClientEntry* entry, int) override { calls.push_back({1525, code, entry}); }
  void OnMap(int code, const ClientEntry* entry) override { calls.push_back({1529, code, entry}); }
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  std::vector<MonitorCall> calls;
  std::vector<LogRecord> lines;
};

class RecordingConsole : public DecoderConsole {
 public:
  bool WantsDecoderLines(uint32_t socket) const override { return watching && socket == watchedSocket; }
  void AddDecoderLine(std::string_view line) override { lines.emplace_back(line); }
  bool watching = true;
  uint32_t watchedSocket = 7;
  std::vector<std::string> lines;
};

struct RecordedPosition {
  std::string name;
  std::string gga;
  double b, l, h;
};

class RecordingRecorder : public PositionRecorder {
 public:
  int RecordPosition(const std::string& name, const std::string& gga, double b, double l, double h) override {
    positions.push_back({name, gga, b, l, h});
    return 1;
  }
  std::vector<RecordedPosition> positions;
};

// A base entry with its sinks, as the dispatch hands it to a decoder.
struct DecoderHarness {
  DecoderHarness() {
    entry.socket = 7;
    entry.userName = "BASE1";
    entry.clientType = "NTRIP";
    entry.streamBuffer = std::make_unique<CBuffer>();
  }
  RecordingMonitor monitor;
  RecordingConsole console;
  RecordingRecorder recorder;
  int saveGga = 1;
  DecoderContext context{monitor, console, recorder, saveGga};
  ClientEntry entry;
};

using DecodeFunction = void (*)(DecoderContext&, ClientEntry&, const uint8_t*, uint32_t);

// What a decoder made of a stream.
struct Outcome {
  std::vector<std::string> lines;
  int32_t formatState = 0;
  int32_t dataFormat = 0;
  std::array<double, 3> position{};
  size_t monitorCalls = 0;
  size_t records = 0;
  bool operator==(const Outcome&) const = default;
};

inline void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "formatState " << o.formatState << ", dataFormat " << o.dataFormat << ", position " << o.position[0]
       << " " << o.position[1] << ", monitor " << o.monitorCalls << ", records " << o.records << ", lines:";
  for (const std::string& line : o.lines) *out << "\n  " << line;
}

// Feeds a stream to a decoder cut at the given ascending offsets, then a flush chunk. With peak,
// the largest stream buffer left after any call is stored there.
inline Outcome Feed(DecodeFunction decode, const Bytes& stream, const std::vector<size_t>& cuts,
                    const Bytes& flush, int32_t dataFormat, int* peak = nullptr) {
  DecoderHarness h;
  h.entry.dataFormat = dataFormat;
  if (peak != nullptr) *peak = 0;
  const auto call = [&](const uint8_t* data, size_t n) {
    decode(h.context, h.entry, data, static_cast<uint32_t>(n));
    if (peak != nullptr) *peak = std::max(*peak, h.entry.streamBuffer->Length());
  };
  size_t from = 0;
  for (size_t cut : cuts) {
    call(stream.data() + from, cut - from);
    from = cut;
  }
  call(stream.data() + from, stream.size() - from);
  if (!flush.empty()) call(flush.data(), flush.size());
  return {h.console.lines,  h.entry.formatState,    h.entry.dataFormat,
          h.entry.position, h.monitor.calls.size(), h.recorder.positions.size()};
}

// Cuts of a stream into reads of 1 to 9 bytes, as a serial-to-TCP bridge delivers them.
inline std::vector<size_t> ShortCuts(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<size_t> cuts;
  for (size_t at = random() % 9 + 1; at < size; at += random() % 9 + 1) cuts.push_back(at);
  return cuts;
}

// The shared data folder of recorded streams, or empty when it is absent.
inline std::string SharedDataDir() {
  const std::string dir = KAVRO_SHARED_DATA;
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport

// Skips the test when the recorded streams are not beside the project.
#define SKIP_WITHOUT_SHARED_DATA() \
  if (testsupport::SharedDataDir().empty()) GTEST_SKIP() << "no recorded streams at " KAVRO_SHARED_DATA
