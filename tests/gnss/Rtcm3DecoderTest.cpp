#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/StrFormat.h"
#include "gnss/Geodesy.h"
#include "gnss/Rtcm3Decoder.h"
#include "support/GnssFrames.h"

namespace {

using namespace testsupport;

struct Xyz {
  int64_t x, y, z;  // 0.1 mm
};

// The 0.1 mm coordinates of a geodetic position.
Xyz Station(double latitude, double longitude, double height) {
  const CoordXYZ c = BLHtoXYZ_WGS84(latitude * kPi / 180.0, longitude * kPi / 180.0, height);
  return {std::llround(c.X * 1e4), std::llround(c.Y * 1e4), std::llround(c.Z * 1e4)};
}

Bytes MessageOnly(int message) { return Rtcm3Frame(Bits({message, 12, 0, 4})); }

Bytes Observations(int message, int epochBits, int satellites) {
  return Rtcm3Frame(Bits({message, 12, 3, 12, 0, epochBits, 1, 1, satellites, 5}));
}

// Trailing bytes without a preamble: more than the 100 left for the next chunk, so that every frame
// before them is decoded.
const Bytes kFlush(101, 0x00);

void Decode(DecoderHarness& h, const Bytes& bytes) {
  DecodeRtcm3(h.context, h.entry, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::string Line(const std::string& trace) { return "BASE1 <-- " + trace; }

TEST(Rtcm3DecoderTest, DecodingStartsAtTwentyBufferedBytes) {
  DecoderHarness h;
  Decode(h, Concat({Bytes(11, 0x00), MessageOnly(1021)}));  // 19 bytes
  EXPECT_EQ(h.entry.formatState, 0);
  EXPECT_EQ(h.entry.streamBuffer->Length(), 19);
  Decode(h, Bytes{0x00});
  EXPECT_EQ(h.entry.formatState, 1);
  EXPECT_EQ(h.entry.formatFlagA, 1);
  EXPECT_EQ(h.entry.formatFlagB, 0);
  EXPECT_EQ(h.console.lines, std::vector<std::string>{Line("check 1021 Length =8 OK ")});
  Decode(h, Concat({MessageOnly(1023), Bytes(12, 0x00)}));
  EXPECT_EQ(h.entry.formatFlagB, 1);
}

TEST(Rtcm3DecoderTest, StationPositionChangesOnlyWithTheLatitude) {
  DecoderHarness h;
  const Xyz s = Station(30.5, 114.25, 40.0);
  const Bytes frame = StationFrame(1005, 42, s.x, s.y, s.z);
  Decode(h, frame);
  Decode(h, frame);
  EXPECT_NEAR(h.entry.position[0], 30.5, 1e-8);
  EXPECT_NEAR(h.entry.position[1], 114.25, 1e-8);
  EXPECT_NEAR(h.entry.position[2], 40.0, 0.001);
  EXPECT_EQ(h.entry.statusText, "0042");
  ASSERT_EQ(h.monitor.calls.size(), 1u);
  EXPECT_EQ(h.monitor.calls[0].message, 1529);
  EXPECT_EQ(h.monitor.calls[0].code, 6);
  EXPECT_EQ(h.monitor.calls[0].entry, &h.entry);
  ASSERT_EQ(h.recorder.positions.size(), 1u);
  EXPECT_EQ(h.recorder.positions[0].name, "BASE1");
  EXPECT_EQ(h.recorder.positions[0].gga, "BASE_RTCM3\r\n");
  EXPECT_EQ(h.recorder.positions[0].b, h.entry.position[0]);
  // Latitude and longitude held, height just computed (the same here).
  EXPECT_EQ(h.console.lines[0], "BASE1 <-- check 1005 Length = 25 OK" + std::string(27, ' ') +
                                    StrFormat("%12.8f %12.8f H=%f", h.entry.position[0], h.entry.position[1],
                                              h.entry.position[2]));
  EXPECT_EQ(h.console.lines[0].substr(62, 12), " 30.50000000");

  // X and Y swapped: the same latitude to the last bit, another longitude.
  const auto kept = h.entry.position;
  Decode(h, StationFrame(1006, 43, s.y, s.x, s.z));
  EXPECT_EQ(h.entry.position, kept);
  EXPECT_EQ(h.entry.statusText, "0042");
  EXPECT_EQ(h.monitor.calls.size(), 1u);

  h.saveGga = 0;
  const Xyz south = Station(-33.25, -70.5, 500.0);
  Decode(h, StationFrame(1006, 7, south.x, south.y, south.z));
  EXPECT_NEAR(h.entry.position[0], -33.25, 1e-8);
  EXPECT_NEAR(h.entry.position[1], -70.5, 1e-8);
  EXPECT_EQ(h.entry.statusText, "0007");
  EXPECT_EQ(h.monitor.calls.size(), 2u);
  EXPECT_EQ(h.recorder.positions.size(), 1u);
  EXPECT_EQ(h.entry.formatState, 4);
}

TEST(Rtcm3DecoderTest, ObservationAndMsmTracesAndTheSwitchToMsm) {
  DecoderHarness h;
  h.entry.dataFormat = 3;
  const Bytes gps = Observations(1004, 30, 12);
  const Bytes glonass = Observations(1012, 27, 11);
  const Bytes msm4 = MsmFrame(1074, 0x8000'0000'0000'0003ULL | 0x3F0);  // 9 satellites
  const Bytes msm4Beidou = MsmFrame(1124, 0x7);
  Decode(h, Concat({gps, glonass, msm4, msm4Beidou, kFlush}));
  const auto length = [](const Bytes& f) { return std::to_string(f.size()); };
  EXPECT_EQ(h.console.lines,
            (std::vector<std::string>{Line("check 1004 Length = " + length(gps) + " OK SatNum=12"),
                                      Line("check 1012 Length = " + length(glonass) + " OK SatNum=11"),
                                      Line("check 1074 Length = " + length(msm4) + " OK SatNum=9"),
                                      Line("check 1124 Length = " + length(msm4Beidou) + " OK SatNum=3")}));
  EXPECT_EQ(h.entry.dataFormat, 6);
  EXPECT_EQ(h.entry.dataFormatName, "RTCM32-MSM");
  ASSERT_EQ(h.monitor.calls.size(), 1u);  // the format changed once
  EXPECT_EQ(h.monitor.calls[0].message, 1525);
  EXPECT_EQ(h.monitor.calls[0].code, 6);
}

TEST(Rtcm3DecoderTest, CorruptedFrameIsReportedAndNotCounted) {
  DecoderHarness h;
  const Xyz s = Station(30.5, 114.25, 40.0);
  Bytes bad = StationFrame(1005, 1, s.x, s.y, s.z);
  bad[9] ^= 0x10;
  Decode(h, Concat({bad, MessageOnly(1021), kFlush}));
  EXPECT_EQ(h.console.lines,
            (std::vector<std::string>{Line("RTCM V3 check fail "), Line("check 1021 Length =8 OK ")}));
  EXPECT_EQ(h.entry.formatState, 1);
  EXPECT_EQ(h.entry.position[0], 0.0);
}

TEST(Rtcm3DecoderTest, AtMostHundredBytesWaitForTheNextChunk) {
  DecoderHarness h;
  const Xyz s = Station(30.5, 114.25, 40.0);
  const Bytes station = StationFrame(1005, 1, s.x, s.y, s.z);
  Decode(h, Concat({MessageOnly(1021), station, station, station, station}));  // 8 + 100 bytes
  EXPECT_EQ(h.entry.formatState, 1);
  EXPECT_EQ(h.entry.streamBuffer->Length(), 100);
  Decode(h, Bytes{0x00});
  EXPECT_EQ(h.entry.formatState, 2);
  EXPECT_EQ(h.entry.streamBuffer->Length(), 76);
}

TEST(Rtcm3DecoderTest, BytesBeforeEachFrameAndBuffersWithoutPreambleAreDropped) {
  DecoderHarness h;
  Decode(h,
         Concat({Bytes(30, 0x41), MessageOnly(1021), Bytes(50, 0x42), MessageOnly(1023), Bytes(101, 0x43)}));
  EXPECT_EQ(h.entry.formatState, 2);
  EXPECT_EQ(h.entry.streamBuffer->Length(), 0);
}

TEST(Rtcm3DecoderTest, StationMessageTooShortForItsFieldsChangesNothing) {
  DecoderHarness h;
  Decode(h, Concat({Rtcm3Frame(Bits({1005, 12, 0x12345, 20})), Bytes(14, 0)}));
  EXPECT_EQ(h.entry.formatState, 1);
  EXPECT_TRUE(h.monitor.calls.empty());
  EXPECT_EQ(h.console.lines, std::vector<std::string>{Line("check 1005 Length =10 OK ")});
}

TEST(Rtcm3DecoderTest, CutFramesWaitForTheRest) {
  const Xyz s = Station(-35.25, 149.125, 800.0);
  Bytes bad = MsmFrame(1077, 0xFF);
  bad[20] ^= 1;
  // A false preamble whose length covers 8 bytes, then real frames, a corrupted one among them.
  const Bytes stream = Concat({Bytes{0x01, 0xD3, 0x00, 0x02, 0x10, 0x20, 0x30, 0x40, 0x50},
                               StationFrame(1006, 5, s.x, s.y, s.z), Observations(1004, 30, 8),
                               Bytes(7, 0x55), MsmFrame(1074, 0xF0F0), bad, MessageOnly(1023),
                               Observations(1012, 27, 6), StationFrame(1005, 5, s.x, s.y, s.z)});
  const Bytes& flush = kFlush;
  const Outcome whole = Feed(DecodeRtcm3, stream, {}, flush, 3);
  EXPECT_EQ(whole.lines.size(), 8u);
  EXPECT_EQ(whole.formatState, 6);
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    ASSERT_EQ(Feed(DecodeRtcm3, stream, {cut}, flush, 3), whole) << "cut at " << cut;
  }
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    std::vector<size_t> cuts;
    for (size_t at = random() % 9 + 1; at < stream.size(); at += random() % 40 + 1) cuts.push_back(at);
    ASSERT_EQ(Feed(DecodeRtcm3, stream, cuts, flush, 3), whole) << "round " << round;
  }
}

}  // namespace
