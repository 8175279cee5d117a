// RTCM 3 framing of load records: CRC, wrap and unwrap in every split, damaged frames and cuts.
#include <gtest/gtest.h>

#include <random>

#include "gnss/Crc24q.h"
#include "tools/LoadRecord.h"
#include "tools/Rtcm3Frame.h"

namespace {

using ntripload::AppendRtcm3Frame;
using ntripload::Rtcm3Unwrapper;

constexpr uint32_t kRecordSize = 100;
constexpr size_t kFrameSize = kRecordSize + ntripload::kRtcm3Overhead;

std::string Record(uint64_t sequence) {
  std::string out;
  ntripload::AppendRecord(out, {1, sequence, 0, kRecordSize});
  return out;
}

// Frames of records 0..count-1.
std::string Frames(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) AppendRtcm3Frame(out, Record(static_cast<uint64_t>(i)));
  return out;
}

TEST(Rtcm3FrameTest, CrcMatchesTheCastersDecoder) {
  EXPECT_EQ(ntripload::Crc24q("123456789"), 0xCDE703u);  // the CRC-24Q check value
  std::mt19937 random(7);
  std::string bytes(1029, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  for (size_t n : {size_t{0}, size_t{1}, size_t{5}, bytes.size()}) {
    EXPECT_EQ(ntripload::Crc24q(std::string_view(bytes).substr(0, n)),
              ::Crc24q(reinterpret_cast<const uint8_t*>(bytes.data()), n))
        << n;
  }
}

TEST(Rtcm3FrameTest, FrameLayoutAndRoundTripInEverySplit) {
  const std::string stream = Frames(3);
  ASSERT_EQ(stream.size(), 3 * kFrameSize);
  // Preamble, length 102 (message number and record), message 4095 with four zero bits.
  EXPECT_EQ(stream.substr(0, 5), std::string("\xD3\x00\x66\xFF\xF0", 5));
  const uint32_t crc = ntripload::Crc24q(std::string_view(stream).substr(0, kFrameSize - 3));
  EXPECT_EQ(static_cast<uint8_t>(stream[kFrameSize - 1]), crc & 0xFF);

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    Rtcm3Unwrapper unwrapper;
    auto frames = unwrapper.Feed(std::string_view(stream).substr(0, cut));
    for (auto& frame : unwrapper.Feed(std::string_view(stream).substr(cut))) frames.push_back(frame);
    ASSERT_EQ(frames.size(), 3u) << cut;
    for (uint64_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(frames[i].intact);
      EXPECT_EQ(frames[i].record, Record(i)) << cut;
    }
    EXPECT_EQ(unwrapper.counts().skippedBytes, 0u);
  }

  std::string largest;
  AppendRtcm3Frame(largest, std::string(ntripload::kRtcm3MaxRecord, 'x'));
  EXPECT_EQ(largest.substr(1, 2), "\x03\xFF") << "1023-byte payload";
  EXPECT_EQ(Rtcm3Unwrapper().Feed(largest).size(), 1u);
}

TEST(Rtcm3FrameTest, DamagedFramesCutsAndAMidStreamStart) {
  struct Case {
    const char* what;
    size_t offset;  // in the second of four frames
    uint64_t damaged, cuts, intact;
  };
  const Case cases[] = {
      {"record byte", 40, 1, 0, 3}, {"message number", 4, 1, 0, 3}, {"CRC byte", kFrameSize - 2, 1, 0, 3},
      {"preamble", 0, 0, 1, 3},     {"length", 2, 0, 1, 3},
  };
  for (const Case& c : cases) {
    std::string stream = Frames(4);
    stream[kFrameSize + c.offset] = static_cast<char>(stream[kFrameSize + c.offset] ^ 0x21);
    Rtcm3Unwrapper unwrapper;
    const auto frames = unwrapper.Feed(stream);
    uint64_t intact = 0;
    for (const auto& frame : frames) intact += frame.intact ? 1 : 0;
    EXPECT_EQ(unwrapper.counts().damaged, c.damaged) << c.what;
    EXPECT_EQ(unwrapper.counts().cuts, c.cuts) << c.what;
    EXPECT_EQ(intact, c.intact) << c.what;
    if (c.damaged == 1) {
      EXPECT_FALSE(frames[1].intact) << c.what << ": damage keeps the frame's place";
    }
  }

  // A lost piece: the stream continues inside the third frame; the fourth is found again.
  const std::string whole = Frames(4);
  Rtcm3Unwrapper cut;
  const auto found = cut.Feed(whole.substr(0, kFrameSize + 50) + whole.substr(2 * kFrameSize + 30));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].record, Record(3));
  EXPECT_EQ(cut.counts().cuts, 1u);
  EXPECT_EQ(cut.counts().damaged, 0u);

  // Joining mid-stream: the leading part is skipped, not damaged.
  Rtcm3Unwrapper late;
  EXPECT_EQ(late.Feed(whole.substr(7)).size(), 3u);
  EXPECT_EQ(late.counts().skippedBytes, kFrameSize - 7);
  EXPECT_EQ(late.counts().damaged + late.counts().cuts, 0u);
}

TEST(Rtcm3FrameTest, ADamagedFrameIsOneCorruptRecordInItsSlot) {
  ntripload::RecordChecker checker(1, kRecordSize, 0);
  checker.Feed(Record(0));
  checker.CountCorrupt();
  checker.Feed(Record(2));
  checker.Finish(2);
  EXPECT_EQ(checker.counts().records, 2u);
  EXPECT_EQ(checker.counts().corrupt, 1u);
  EXPECT_EQ(checker.counts().missing, 0u);
}

}  // namespace
