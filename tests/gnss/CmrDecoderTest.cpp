#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/StrFormat.h"
#include "gnss/CmrDecoder.h"
#include "gnss/Geodesy.h"
#include "support/GnssFrames.h"

namespace {

using namespace testsupport;

void Decode(DecoderHarness& h, const Bytes& bytes) {
  DecodeCmr(h.context, h.entry, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<std::string> Lines(std::initializer_list<std::string> traces) {
  std::vector<std::string> lines;
  for (const std::string& trace : traces) lines.push_back("BASE1 <-- " + trace);
  return lines;
}

TEST(CmrDecoderTest, ChecksumCoversStatusToDataAndNeedsTheEndByte) {
  Bytes packet = CmrPacket(0x93, CmrObservables(3, 1, 5, 1000));
  EXPECT_TRUE(CmrChecksumOk(packet.data(), packet.size()));
  packet[packet.size() - 2] ^= 1;
  EXPECT_FALSE(CmrChecksumOk(packet.data(), packet.size()));
  packet[packet.size() - 2] ^= 1;
  packet.back() = 0x04;
  EXPECT_FALSE(CmrChecksumOk(packet.data(), packet.size()));
  // Two or three bytes: the sum of no bytes is 0; one byte is never a packet.
  const uint8_t two[] = {0x00, 0x03}, three[] = {0x02, 0x00, 0x03}, badThree[] = {0x02, 0x01, 0x03};
  EXPECT_TRUE(CmrChecksumOk(two, 2));
  EXPECT_TRUE(CmrChecksumOk(three, 3));
  EXPECT_FALSE(CmrChecksumOk(badThree, 3));
  EXPECT_FALSE(CmrChecksumOk(three + 2, 1));
}

TEST(CmrDecoderTest, ObservablesTracesAndCmrPlus) {
  DecoderHarness h;
  h.entry.dataFormat = 4;
  const Bytes data = CmrObservables(3, 5, 9, 123456);
  Decode(h, Concat({CmrPacket(0x93, data), CmrPacket(0x94, data), CmrPacket(0x98, data)}));
  EXPECT_EQ(h.console.lines, Lines({"93 Version=3  Message=0 check Ok Num=9 123.456",
                                    "94 Version=3  Message=0 check Ok Num=9 123.456  CMR+",
                                    "98 Version=3  Message=0 check Ok Num=9 123.456"}));
  EXPECT_EQ(h.entry.formatState, 3);
  EXPECT_EQ(h.entry.dataFormat, 4);
}

TEST(CmrDecoderTest, VersionFiveIsScmrx) {
  DecoderHarness h;
  h.entry.dataFormat = 4;
  Decode(h, CmrPacket(0x94, CmrObservables(5, 5, 9, 1000)));
  EXPECT_EQ(h.entry.dataFormat, 7);
  EXPECT_EQ(h.entry.dataFormatName, "sCMRx");
  EXPECT_EQ(h.console.lines, Lines({"94 Version=5  Message=0 check Ok  CMR+"}));
  ASSERT_EQ(h.monitor.calls.size(), 1u);
  EXPECT_EQ(h.monitor.calls[0].message, 1525);
}

TEST(CmrDecoderTest, ShortChunksOnlyWait) {
  DecoderHarness h;
  const Bytes packet = CmrPacket(0x93, CmrObservables(3, 5, 9, 1000));
  Decode(h, Bytes(packet.begin(), packet.begin() + 9));
  EXPECT_EQ(h.entry.streamBuffer->Length(), 9);
  EXPECT_TRUE(h.console.lines.empty());
  Decode(h, Bytes(packet.begin() + 9, packet.end()));
  EXPECT_EQ(h.entry.formatState, 1);
}

TEST(CmrDecoderTest, BackToFormatSearchOnlyBeforeTwoGoodPackets) {
  const Bytes packet = CmrPacket(0x93, CmrObservables(3, 5, 9, 1000));
  const Bytes noise(20, 0x41);
  DecoderHarness once;
  once.entry.dataFormat = 4;
  Decode(once, packet);
  Decode(once, noise);
  EXPECT_EQ(once.entry.dataFormat, 0);
  EXPECT_EQ(once.console.lines.back(), "BASE1 <-- Delete ALL");
  EXPECT_EQ(once.entry.streamBuffer->Length(), 0);

  DecoderHarness twice;
  twice.entry.dataFormat = 4;
  Decode(twice, Concat({packet, packet}));
  Decode(twice, noise);
  EXPECT_EQ(twice.entry.dataFormat, 4);
}

TEST(CmrDecoderTest, StxAtTheEndOfAChunkWaitsForItsPacket) {
  DecoderHarness h;
  const Bytes packet = CmrPacket(0x93, CmrObservables(3, 5, 9, 1000));
  Decode(h, Concat({packet, Bytes(12, 0x41), Bytes{0x02}}));
  EXPECT_EQ(h.console.lines.back(), "BASE1 <-- Delete ALL");
  Decode(h, Bytes(packet.begin() + 1, packet.end()));
  EXPECT_EQ(h.entry.formatState, 2);
}

TEST(CmrDecoderTest, ReferencePositionFromNegativeX) {
  DecoderHarness h;
  const CoordXYZ c = BLHtoXYZ_WGS84(-35.25 * kPi / 180.0, 149.125 * kPi / 180.0, 800.0);
  ASSERT_LT(c.X, 0.0);
  const Bytes packet = CmrPacket(
      0x93, CmrReference(3, 9, std::llround(c.X * 1000), std::llround(c.Y * 1000), std::llround(c.Z * 1000)));
  Decode(h, packet);
  Decode(h, packet);
  EXPECT_NEAR(h.entry.position[0], -35.25, 1e-7);
  EXPECT_NEAR(h.entry.position[1], 149.125, 1e-7);
  EXPECT_NEAR(h.entry.position[2], 800.0, 0.002);
  EXPECT_EQ(h.entry.statusText, "09");
  ASSERT_EQ(h.monitor.calls.size(), 1u);
  EXPECT_EQ(h.monitor.calls[0].message, 1529);
  EXPECT_EQ(h.monitor.calls[0].code, 6);
  ASSERT_EQ(h.recorder.positions.size(), 1u);
  EXPECT_EQ(h.recorder.positions[0].gga, "BASE_CMR\r\n");
  EXPECT_EQ(h.console.lines[0], "BASE1 <-- 1 check Ok" + std::string(26, ' ') +
                                    StrFormat("%12.8f %12.8f H=%f", h.entry.position[0], h.entry.position[1],
                                              h.entry.position[2]));
}

TEST(CmrDecoderTest, CutPacketsWaitForTheRest) {
  const CoordXYZ c = BLHtoXYZ_WGS84(0.5, 2.0, 100.0);
  Bytes bad = CmrPacket(0x93, CmrObservables(3, 1, 4, 2000));
  bad[6] ^= 0x80;
  const Bytes stream =
      Concat({Bytes{0x55, 0x02}, CmrPacket(0x93, CmrObservables(3, 1, 12, 5000)),
              CmrPacket(0x57, Bytes(6, 0x11)), bad,
              CmrPacket(0x94, CmrReference(3, 1, std::llround(c.X * 1000), std::llround(c.Y * 1000),
                                           std::llround(c.Z * 1000))),
              Bytes(5, 0x33), CmrPacket(0x93, CmrObservables(3, 1, 7, 9000))});
  const Bytes flush(11, 0xEE);
  const Outcome whole = Feed(DecodeCmr, stream, {}, flush, 4);
  EXPECT_EQ(whole.formatState, 3);
  EXPECT_EQ(std::count(whole.lines.begin(), whole.lines.end(), "BASE1 <-- CMR check fail"), 1);
  EXPECT_EQ(whole.monitorCalls, 1u);
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    ASSERT_EQ(Feed(DecodeCmr, stream, {cut}, flush, 4), whole) << "cut at " << cut;
  }
  std::mt19937 random(4);
  for (int round = 0; round < 200; ++round) {
    std::vector<size_t> cuts;
    for (size_t at = random() % 30 + 1; at < stream.size(); at += random() % 30 + 10) cuts.push_back(at);
    ASSERT_EQ(Feed(DecodeCmr, stream, cuts, flush, 4), whole) << "round " << round;
  }
}

TEST(CmrDecoderTest, ShortReadsDecodeLikeWholeReadsAndStayBounded) {
  const CoordXYZ c = BLHtoXYZ_WGS84(0.5, 2.0, 100.0);
  const Bytes reference = CmrPacket(
      0x93, CmrReference(3, 1, std::llround(c.X * 1000), std::llround(c.Y * 1000), std::llround(c.Z * 1000)));
  Bytes stream = Bytes{0x55};
  for (int i = 0; i < 12; ++i) {
    stream = Concat({stream, CmrPacket(0x94, CmrObservables(3, 1, 6, i)), Bytes(3, 0x33), reference});
  }
  const Bytes flush(11, 0xEE);
  const Outcome whole = Feed(DecodeCmr, stream, {}, flush, 4);
  EXPECT_EQ(whole.formatState, 24);
  for (unsigned seed = 0; seed < 20; ++seed) {
    int peak = 0;
    ASSERT_EQ(Feed(DecodeCmr, stream, ShortCuts(stream.size(), seed), flush, 4, &peak), whole)
        << "seed " << seed;
    EXPECT_LE(peak, 260) << "seed " << seed;  // one cut packet of the largest size
  }
}

}  // namespace
