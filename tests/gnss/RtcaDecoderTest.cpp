#include <gtest/gtest.h>

#include <random>

#include "core/StrFormat.h"
#include "gnss/RtcaDecoder.h"
#include "support/GnssFrames.h"

namespace {

using namespace testsupport;

// Station BNDM of the Oregon network, in millimetres.
constexpr int64_t kX = -2384764708, kY = -3921089174, kZ = 4415976069;

void Decode(DecoderHarness& h, const Bytes& bytes) {
  DecodeRtca(h.context, h.entry, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(RtcaDecoderTest, StationIdentifierLetters) {
  const uint32_t abc4 = RtcaStationBits(1, 2, 3, 52);
  const uint8_t frame[] = {0x99, static_cast<uint8_t>(abc4), static_cast<uint8_t>(abc4 >> 8),
                           static_cast<uint8_t>(abc4 >> 16)};
  EXPECT_EQ(RtcaStationId(frame), "ABC4");
  const uint32_t edges = RtcaStationBits(47, 48, 63, 0);
  const uint8_t other[] = {0x99, static_cast<uint8_t>(edges), static_cast<uint8_t>(edges >> 8),
                           static_cast<uint8_t>(edges >> 16)};
  EXPECT_EQ(RtcaStationId(other), "o0?@");
}

TEST(RtcaDecoderTest, StationPositionBelowTheHeightLimit) {
  DecoderHarness h;
  const Bytes frame = RtcaFrame(RtcaStationBits(1, 2, 3, 52), RtcaPosition(kX, kY, kZ));
  Decode(h, Concat({frame, frame}));
  EXPECT_NEAR(h.entry.position[0], 44.08939, 6e-6);
  EXPECT_NEAR(h.entry.position[1], -121.30752, 6e-6);
  EXPECT_EQ(h.entry.statusText, "ABC4");
  EXPECT_EQ(h.entry.formatState, 2);
  ASSERT_EQ(h.monitor.calls.size(), 1u);
  EXPECT_EQ(h.monitor.calls[0].message, 1529);
  ASSERT_EQ(h.recorder.positions.size(), 1u);
  EXPECT_EQ(h.recorder.positions[0].gga, "BASE_RTCA\r\n");
  ASSERT_EQ(h.console.lines.size(), 2u);
  EXPECT_EQ(h.console.lines[1],
            "BASE1 <-- 坐标 18 12 -2384764.708 -3921089.174 4415976.069 " +
                StrFormat("%f %f H=%f", h.entry.position[0], h.entry.position[1], h.entry.position[2]));

  // 50 km up: not a base position, though traced.
  DecoderHarness high;
  Decode(high, RtcaFrame(1, RtcaPosition(kX / 10 * 11, kY / 10 * 11, kZ / 10 * 11)));
  EXPECT_EQ(high.entry.position[0], 0.0);
  EXPECT_TRUE(high.monitor.calls.empty());
  EXPECT_TRUE(high.console.lines.at(0).starts_with("BASE1 <-- 坐标 18 12 "));
}

TEST(RtcaDecoderTest, CarrierAndOtherFrames) {
  DecoderHarness h;
  Bytes other = RtcaCarrier(30);  // long enough to be reached: 24 bytes must be buffered
  other[0] = 'X';
  Decode(h, Concat({RtcaFrame(1, RtcaCarrier(57)), RtcaFrame(1, other)}));
  EXPECT_EQ(h.console.lines,
            (std::vector<std::string>{"BASE1 <-- 载波 57 39 N0.=3", "BASE1 <-- 其他 24 18  8280"}));
  EXPECT_EQ(h.entry.formatState, 1);
}

TEST(RtcaDecoderTest, BufferWithoutSyncIsEmptiedWithTheChunkShown) {
  DecoderHarness h;
  Decode(h, Bytes(20, 'A'));
  EXPECT_TRUE(h.console.lines.empty());
  Decode(h, Bytes{'a', 'b', 'c', 'd'});  // a chunk shorter than the eight bytes shown
  EXPECT_EQ(h.console.lines, std::vector<std::string>{"BASE1 <--[4] 61 62 63 64 00 00 00 00 abcd"});
  EXPECT_EQ(h.entry.streamBuffer->Length(), 0);
  Decode(h, Bytes(60, 'z'));
  EXPECT_EQ(h.console.lines.back(), "BASE1 <--[60] 7A 7A 7A 7A 7A 7A 7A 7A " + std::string(50, 'z'));
}

TEST(RtcaDecoderTest, CutFramesWaitForTheRest) {
  Bytes other = RtcaCarrier(12);
  other[0] = 'Q';
  const Bytes stream = Concat({Bytes{0x11, 0x22}, RtcaFrame(5, RtcaCarrier(40)),
                               RtcaFrame(6, RtcaPosition(kX, kY, kZ)), other, RtcaFrame(7, RtcaCarrier(80))});
  const Bytes flush(24, 0x00);
  const Outcome whole = Feed(DecodeRtca, stream, {}, flush, 1);
  EXPECT_EQ(whole.formatState, 3);
  EXPECT_EQ(whole.monitorCalls, 1u);
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    ASSERT_EQ(Feed(DecodeRtca, stream, {cut}, flush, 1), whole) << "cut at " << cut;
  }
  std::mt19937 random(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<size_t> cuts;
    for (size_t at = random() % 30 + 1; at < stream.size(); at += random() % 30 + 1) cuts.push_back(at);
    ASSERT_EQ(Feed(DecodeRtca, stream, cuts, flush, 1), whole) << "round " << round;
  }
}

TEST(RtcaDecoderTest, HeadersWithoutDataDoNotPileUp) {
  const Bytes empty = {0x99, 0, 0, 0, 0, 6};  // a length that leaves no data
  Bytes stream;
  for (int i = 0; i < 30; ++i) stream = Concat({stream, empty, empty, RtcaFrame(1, RtcaCarrier(40))});
  int peak = 0;
  const Outcome whole = Feed(DecodeRtca, stream, {}, {}, 1, &peak);
  EXPECT_EQ(whole.formatState, 30);
  EXPECT_EQ(peak, 0);
  for (unsigned seed = 0; seed < 5; ++seed) {
    EXPECT_EQ(Feed(DecodeRtca, stream, ShortCuts(stream.size(), seed), {}, 1, &peak), whole)
        << "seed " << seed;
    EXPECT_LE(peak, 254) << "seed " << seed;  // one cut frame of the largest size
  }
}

}  // namespace
