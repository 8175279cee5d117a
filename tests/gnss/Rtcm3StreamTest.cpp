// The RTCM 3 decoder on real recorded base streams.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/StrFormat.h"
#include "gnss/Rtcm3Decoder.h"
#include "support/GnssFrames.h"

namespace {

using namespace testsupport;

const Bytes kFlush(101, 0x00);
constexpr size_t kReadSize = 8095;

// Reads of at most 8095 bytes, as the socket layer delivers them.
std::vector<size_t> ReadCuts(size_t size) {
  std::vector<size_t> cuts;
  for (size_t at = kReadSize; at < size; at += kReadSize) cuts.push_back(at);
  return cuts;
}

size_t CheckFailures(const Outcome& outcome) {
  return std::count(outcome.lines.begin(), outcome.lines.end(), "BASE1 <-- RTCM V3 check fail ");
}

// Station positions and frame counts as the data folder's notes list them.
struct Recorded {
  const char* file;
  int station;  // -1: not listed
  double latitude, longitude;
};

const Recorded kStations[] = {
    {"rtcm3/ntripstreams/AgPartner_2.rtcm3", 0, 52.70442, 19.57256},
    {"rtcm3/ntripstreams/aamakinen.rtcm3", 0, 63.35665, 23.35592},
    {"rtcm3/rtklib/testglo.rtcm3", 0, 35.87299, 138.38967},
    {"rtcm3/gpsd/rtcm3-2.log", 0, 43.75470, 6.92056},
    {"rtcm3/gpsd/rtcm3.bndm.log", 278, 44.08939, -121.30752},
    {"rtcm3/gpsd/rtcm3-3.log", 700, 38.91896, -77.06622},
    {"rtcm3/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 0, -33.44985, -70.68135},
    {"rtcm3/swiftnav/dropped-packets-STR24.rtcm3", 0, -35.31617, 149.01015},
    {"rtcm3/swiftnav/20190120_1956_rover.023", 1, 48.19126, 11.56683},
    {"rtcm3/pygnssutils/ntrip_encode_none.bin", 25, 53.34480, -2.64049},
    {"rtcm3/go-gnss_single_frames/1005_frame.bin", -1, -35.34348, 149.15819},
};

TEST(Rtcm3StreamTest, EveryFrameOfRealMsmStreamsPassesItsCheck) {
  SKIP_WITHOUT_SHARED_DATA();
  // From the first frame on: a false preamble in leading bytes may hide the frames it covers.
  const struct {
    const char* file;
    size_t firstFrame;
    int frames;
  } streams[] = {{"rtcm3/ntripstreams/AgPartner_2.rtcm3", 0, 251},
                 {"rtcm3/swiftnav/dropped-packets-STR24.rtcm3", 171, 7934}};
  for (const auto& s : streams) {
    Bytes stream = ReadFile(SharedDataDir() + "/" + s.file);
    ASSERT_GT(stream.size(), s.firstFrame) << s.file;
    stream.erase(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(s.firstFrame));
    const Outcome outcome = Feed(DecodeRtcm3, stream, ReadCuts(stream.size()), kFlush, 3);
    EXPECT_EQ(CheckFailures(outcome), 0u) << s.file;
    EXPECT_EQ(outcome.formatState, s.frames) << s.file;
    EXPECT_EQ(outcome.dataFormat, 6) << s.file;
  }
}

TEST(Rtcm3StreamTest, StationMessagesGiveTheRecordedPositions) {
  SKIP_WITHOUT_SHARED_DATA();
  for (const Recorded& r : kStations) {
    const Bytes stream = ReadFile(SharedDataDir() + "/" + r.file);
    ASSERT_FALSE(stream.empty()) << r.file;
    DecoderHarness h;
    h.entry.dataFormat = 3;
    for (size_t at = 0; at < stream.size(); at += kReadSize) {
      DecodeRtcm3(h.context, h.entry, stream.data() + at,
                  static_cast<uint32_t>(std::min(kReadSize, stream.size() - at)));
    }
    DecodeRtcm3(h.context, h.entry, kFlush.data(), static_cast<uint32_t>(kFlush.size()));
    EXPECT_NEAR(h.entry.position[0], r.latitude, 6e-6) << r.file;
    EXPECT_NEAR(h.entry.position[1], r.longitude, 6e-6) << r.file;
    if (r.station >= 0) {
      EXPECT_EQ(h.entry.statusText, StrFormat("%04d", r.station)) << r.file;
    }
    EXPECT_FALSE(h.monitor.calls.empty()) << r.file;
  }
}

TEST(Rtcm3StreamTest, CorruptedByteFailsOnlyItsFrame) {
  SKIP_WITHOUT_SHARED_DATA();
  Bytes stream = ReadFile(SharedDataDir() + "/rtcm3/ntripstreams/AgPartner_2.rtcm3");
  ASSERT_FALSE(stream.empty());
  // The tenth frame: the file is frames back to back from its first byte.
  size_t at = 0;
  for (int frame = 0; frame < 9; ++frame) at += (((stream[at + 1] & 3) << 8) | stream[at + 2]) + 6;
  ASSERT_EQ(stream[at], 0xD3);
  stream[at + 5] ^= 0x40;
  const Outcome outcome = Feed(DecodeRtcm3, stream, ReadCuts(stream.size()), kFlush, 3);
  EXPECT_EQ(CheckFailures(outcome), 1u);
  EXPECT_EQ(outcome.lines[9], "BASE1 <-- RTCM V3 check fail ");
  EXPECT_EQ(outcome.formatState, 250);
}

TEST(Rtcm3StreamTest, RealStreamCutAnywhereDecodesLikeTheWhole) {
  SKIP_WITHOUT_SHARED_DATA();
  const Bytes stream = ReadFile(SharedDataDir() + "/rtcm3/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log");
  ASSERT_FALSE(stream.empty());
  const Outcome whole = Feed(DecodeRtcm3, stream, {}, kFlush, 3);
  EXPECT_EQ(whole.formatState, 35);
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    ASSERT_EQ(Feed(DecodeRtcm3, stream, {cut}, kFlush, 3), whole) << "cut at " << cut;
  }
}

TEST(Rtcm3StreamTest, ShortReadsDecodeLikeFullReadsAndStayBounded) {
  SKIP_WITHOUT_SHARED_DATA();
  const Bytes stream = ReadFile(SharedDataDir() + "/rtcm3/ntripstreams/AgPartner_2.rtcm3");
  ASSERT_FALSE(stream.empty());
  const Outcome full = Feed(DecodeRtcm3, stream, ReadCuts(stream.size()), kFlush, 3);
  EXPECT_EQ(full.formatState, 251);
  int peak = 0;
  EXPECT_EQ(Feed(DecodeRtcm3, stream, ShortCuts(stream.size(), 3), kFlush, 3, &peak), full);
  EXPECT_LE(peak, 1028);  // one cut frame of the largest size
}

}  // namespace
