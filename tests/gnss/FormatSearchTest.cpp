#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gnss/CmrDecoder.h"
#include "gnss/DataFormat.h"
#include "gnss/FormatSearch.h"
#include "gnss/Geodesy.h"
#include "gnss/RtcaDecoder.h"
#include "gnss/Rtcm3Decoder.h"
#include "support/GnssFrames.h"

namespace {

using namespace testsupport;

void Search(DecoderHarness& h, const Bytes& bytes) {
  SearchDataFormat(h.context, h.entry, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// What the data dispatch runs for a base chunk, by the base's format.
void Dispatch(DecoderHarness& h, const uint8_t* data, uint32_t length) {
  switch (h.entry.dataFormat) {
    case 0:
      SearchDataFormat(h.context, h.entry, data, length);
      break;
    case 1:
      DecodeRtca(h.context, h.entry, data, length);
      break;
    case 3:
    case 6:
      DecodeRtcm3(h.context, h.entry, data, length);
      break;
    case 4:
    case 7:
      DecodeCmr(h.context, h.entry, data, length);
      break;
    default:
      break;
  }
}

const Bytes kCmr = CmrPacket(0x93, CmrObservables(3, 5, 9, 1000));

constexpr int kSearchBound = 1024;  // the search empties a larger buffer

// Largest stream buffers left by the search and by the decoder that took over.
struct Peaks {
  int search = 0;
  int decoder = 0;
};

// Feeds a stream through the dispatch in the given chunks.
Peaks DispatchInChunks(DecoderHarness& h, const Bytes& stream, const std::vector<size_t>& cuts) {
  Peaks peaks;
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : stream.size();
    const int32_t before = h.entry.dataFormat;
    Dispatch(h, stream.data() + from, static_cast<uint32_t>(to - from));
    from = to;
    // The chunk in which the search finds a format is left as it is for the decoder.
    const int length = h.entry.streamBuffer->Length();
    if (before != 0) {
      peaks.decoder = std::max(peaks.decoder, length);
    } else if (h.entry.dataFormat == 0) {
      peaks.search = std::max(peaks.search, length);
    }
  }
  return peaks;
}

// A CMR base behind some leading bytes: reference positions between observables.
Bytes BuiltCmrStream(double latitude, double longitude) {
  const CoordXYZ c = BLHtoXYZ_WGS84(latitude * kPi / 180.0, longitude * kPi / 180.0, 300.0);
  const Bytes reference = CmrPacket(
      0x93, CmrReference(3, 4, std::llround(c.X * 1000), std::llround(c.Y * 1000), std::llround(c.Z * 1000)));
  Bytes stream(7, 'x');
  for (int i = 0; i < 40; ++i)
    stream = Concat({stream, reference, CmrPacket(0x94, CmrObservables(3, 4, 8, i))});
  return stream;
}

TEST(FormatSearchTest, DeclaredNames) {
  const struct {
    const char* declared;
    int format;
    const char* name;
  } cases[] = {
      {"RTCA", 1, "RTCA"}, {"RTCM23", 2, "RTCM23"},  {"RTCM30", 3, "RTCM30"},         {"CMR", 4, "CMR"},
      {"RTD", 5, "RTD"},   {"MSM", 6, "RTCM32-MSM"}, {"RTCM32-MSM", 6, "RTCM32-MSM"}, {"sCMRx", 7, "sCMRx"}};
  for (const auto& c : cases) {
    DecoderHarness h;
    SetDataFormatByName(h.context, h.entry, c.declared);
    EXPECT_EQ(h.entry.dataFormat, c.format) << c.declared;
    EXPECT_EQ(h.entry.dataFormatName, c.name) << c.declared;
    ASSERT_EQ(h.monitor.calls.size(), 1u);
    EXPECT_EQ(h.monitor.calls[0].message, 1525);
    EXPECT_EQ(h.monitor.calls[0].code, 6);
  }
  DecoderHarness h;
  SetDataFormatByName(h.context, h.entry, "rtcm30");
  EXPECT_EQ(h.entry.dataFormat, 0);
  EXPECT_TRUE(h.monitor.calls.empty());
  SetDataFormatByName(h.context, h.entry, "CMR");
  SetDataFormatByName(h.context, h.entry, "scmrx");
  EXPECT_EQ(h.entry.dataFormat, 4);
  EXPECT_EQ(h.monitor.calls.size(), 2u);  // the format is still known
}

TEST(FormatSearchTest, Rtcm3AfterGarbageIsFoundAndDecodedOnTheNextChunk) {
  const Bytes frame = StationFrame(1005, 3, -24000000000, 29000000000, 34000000000);
  DecoderHarness g;
  Search(g, Concat({Bytes(40, 'x'), frame}));
  EXPECT_EQ(g.entry.dataFormat, 3);
  EXPECT_EQ(g.entry.dataFormatName, "RTCM30");
  ASSERT_EQ(g.monitor.calls.size(), 1u);
  EXPECT_EQ(g.monitor.calls[0].message, 1525);
  const Bytes next(101, 0x00);
  Dispatch(g, next.data(), static_cast<uint32_t>(next.size()));
  EXPECT_EQ(g.entry.formatState, 1);
  EXPECT_EQ(g.entry.statusText, "0003");
}

TEST(FormatSearchTest, NineByteChunkIsSearchedWithTheNext) {
  DecoderHarness h;
  const Bytes frame = Rtcm3Frame(Bits({1021, 12, 0, 4}));  // 8 bytes
  Search(h, Concat({frame, Bytes{0x00}}));
  EXPECT_EQ(h.entry.dataFormat, 0);
  Search(h, Bytes(10, 0x00));
  EXPECT_EQ(h.entry.dataFormat, 3);
}

TEST(FormatSearchTest, CmrBehindAFalsePreamble) {
  DecoderHarness h;
  Search(h, Concat({Bytes{0xD3, 0x00, 0x04, 1, 2, 3, 4, 5, 6, 7}, kCmr}));
  EXPECT_EQ(h.entry.dataFormat, 4);
  EXPECT_EQ(h.entry.dataFormatName, "CMR");
}

TEST(FormatSearchTest, IncompleteCandidateStopsTheSearch) {
  DecoderHarness h;
  Search(h, Concat({Bytes{0xD3, 0x03, 0xFF}, kCmr}));  // waits for a 1029-byte frame
  EXPECT_EQ(h.entry.dataFormat, 0);
  EXPECT_TRUE(h.console.lines.empty());
  Search(h, Bytes(1000, 0x00));  // past 1024 bytes: emptied, the search starts over
  EXPECT_EQ(h.entry.streamBuffer->Length(), 0);
  Search(h, Concat({Bytes{0x99, 0, 0, 0, 0, 6}, Bytes(10, 'x')}));  // an RTCA length of 6 or less waits too
  EXPECT_EQ(h.entry.dataFormat, 0);
  EXPECT_TRUE(h.console.lines.empty());
}

TEST(FormatSearchTest, RtcaNeedsItsWholeFrameStartingWithN) {
  DecoderHarness h;
  const Bytes frame = RtcaFrame(1, RtcaCarrier(40));
  Search(h, Bytes(frame.begin(), frame.begin() + 30));
  EXPECT_EQ(h.entry.dataFormat, 0);
  EXPECT_EQ(h.console.lines.size(), 1u);  // an incomplete RTCA frame is no format
  Search(h, Bytes(frame.begin() + 30, frame.end()));
  EXPECT_EQ(h.entry.dataFormat, 1);
}

TEST(FormatSearchTest, NoiseIsShownAndFlushedPast1024Bytes) {
  DecoderHarness h;
  Bytes noise(1100);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>('a' + i % 26);
  Search(h, noise);
  ASSERT_EQ(h.console.lines.size(), 1u);
  EXPECT_EQ(h.console.lines[0],
            "BASE1 <--[1100] 61 62 63 64 65 66 67 68 " + std::string(noise.begin(), noise.begin() + 300));
  EXPECT_EQ(h.entry.streamBuffer->Length(), 0);
  EXPECT_EQ(h.entry.dataFormat, 0);
}

TEST(FormatSearchTest, RealStreamsThroughTheDispatch) {
  SKIP_WITHOUT_SHARED_DATA();
  // A recorded RTCM 3 stream behind a text header, and a Trimble RT17 log with CMR's framing.
  const Bytes rtcm3 = ReadFile(SharedDataDir() + "/rtcm3/gpsd/rtcm3-2.log");
  const Bytes rt17 = ReadFile(SharedDataDir() + "/cmr/near_miss_not_cmr/rt17c_20140706.rt17");
  ASSERT_FALSE(rtcm3.empty());
  ASSERT_FALSE(rt17.empty());

  DecoderHarness h;
  for (size_t at = 0; at < rtcm3.size(); at += 1460) {
    Dispatch(h, rtcm3.data() + at, static_cast<uint32_t>(std::min<size_t>(1460, rtcm3.size() - at)));
  }
  EXPECT_EQ(h.entry.dataFormat, 3);
  EXPECT_NEAR(h.entry.position[0], 43.75470, 6e-6);
  EXPECT_NEAR(h.entry.position[1], 6.92056, 6e-6);

  DecoderHarness t;
  for (size_t at = 0; at < rt17.size(); at += 1460) {
    Dispatch(t, rt17.data() + at, static_cast<uint32_t>(std::min<size_t>(1460, rt17.size() - at)));
  }
  EXPECT_EQ(t.entry.dataFormat, 0);
  EXPECT_EQ(t.entry.formatState, 0);
  EXPECT_TRUE(t.monitor.calls.empty());
}

TEST(FormatSearchTest, ShortReadsAreFoundDecodedAndBounded) {
  SKIP_WITHOUT_SHARED_DATA();
  const struct {
    const char* name;
    Bytes stream;
    int32_t format;
    double latitude, longitude;
    int decoderBound;  // the largest frame less one byte
  } cases[] = {
      {"recorded RTCM 3", ReadFile(SharedDataDir() + "/rtcm3/gpsd/rtcm3-2.log"), 3, 43.75470, 6.92056, 1028},
      {"built CMR", BuiltCmrStream(-33.5, 18.25), 4, -33.5, 18.25, 260},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.stream.empty()) << c.name;
    DecoderHarness h;
    const Peaks peaks = DispatchInChunks(h, c.stream, ShortCuts(c.stream.size(), 11));
    EXPECT_EQ(h.entry.dataFormat, c.format) << c.name;
    EXPECT_NEAR(h.entry.position[0], c.latitude, 6e-6) << c.name;
    EXPECT_NEAR(h.entry.position[1], c.longitude, 6e-6) << c.name;
    EXPECT_GT(h.entry.formatState, 0) << c.name;
    EXPECT_LE(peaks.search, kSearchBound) << c.name;
    EXPECT_LE(peaks.decoder, c.decoderBound) << c.name;
  }
}

TEST(FormatSearchTest, RecordedRtcm2IsNoOtherFormat) {
  SKIP_WITHOUT_SHARED_DATA();
  const char* files[] = {"gpsd/naujoks-ntrip.log", "gpsd/naujoks-rtcm2.log", "gpsd/rtcm2.bend.log",
                         "gpsd/rtcm2.log",         "gpsd/sample.rtcm2",      "rtklib/testglo.rtcm2"};
  for (const char* file : files) {
    const Bytes stream = ReadFile(SharedDataDir() + "/rtcm2/" + file);
    ASSERT_FALSE(stream.empty()) << file;
    std::vector<size_t> reads;
    for (size_t at = 1460; at < stream.size(); at += 1460) reads.push_back(at);
    for (const auto& cuts : {ShortCuts(stream.size(), 12), reads}) {
      DecoderHarness h;
      const Peaks peaks = DispatchInChunks(h, stream, cuts);
      EXPECT_EQ(h.entry.dataFormat, 0) << file;
      EXPECT_TRUE(h.monitor.calls.empty()) << file;
      EXPECT_LE(peaks.search, kSearchBound) << file << ", " << cuts.size() + 1 << " reads";
    }
  }
}

}  // namespace
