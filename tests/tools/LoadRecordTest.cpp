// Records of the load tool and the rover-side stream check.
#include <gtest/gtest.h>

#include <random>

#include "tools/LoadRecord.h"

namespace {

using ntripload::AppendRecord;
using ntripload::RecordChecker;
using ntripload::RecordHeader;

constexpr size_t kSize = 48;

// Records first..first+count-1 of source 3, back to back.
std::string Stream(uint64_t count, uint64_t first = 0, uint32_t source = 3) {
  std::string out;
  for (uint64_t s = first; s < first + count; ++s) AppendRecord(out, {source, s, 1000 + s * 7, kSize});
  return out;
}

TEST(LoadRecordTest, RecordRoundTripAndEveryByteChecked) {
  std::string record;
  AppendRecord(record, {7, 0x1122334455667788ull, 0x99AABBCCDDEEFF00ull, 200});
  ASSERT_EQ(record.size(), 200u);
  const auto header = ntripload::ReadRecordHeader(record, 200);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->source, 7u);
  EXPECT_EQ(header->sequence, 0x1122334455667788ull);
  EXPECT_EQ(header->sendTimeNs, 0x99AABBCCDDEEFF00ull);
  EXPECT_TRUE(ntripload::PaddingIntact(record, header->sequence));
  EXPECT_FALSE(ntripload::ReadRecordHeader(record, 201)) << "size differs from the stream's record size";
  EXPECT_FALSE(ntripload::ReadRecordHeader(record.substr(0, 31), 200));
  for (size_t i = 0; i < record.size(); ++i) {
    std::string damaged = record;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x10);
    const auto read = ntripload::ReadRecordHeader(damaged, 200);
    EXPECT_FALSE(read && ntripload::PaddingIntact(damaged, read->sequence) &&
                 read->sequence == header->sequence)
        << "flip at " << i << " not seen";
  }
}

TEST(LoadRecordTest, SameResultForEverySplitOfTheStream) {
  const std::string stream = Stream(20);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    RecordChecker checker(3, kSize, 0);
    auto found = checker.Feed(std::string_view(stream).substr(0, cut));
    const auto more = checker.Feed(std::string_view(stream).substr(cut));
    found.insert(found.end(), more.begin(), more.end());
    checker.Finish(19);
    ASSERT_EQ(found.size(), 20u) << "cut " << cut;
    for (uint64_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].sendTimeNs, 1000 + i * 7);
    const auto& c = checker.counts();
    EXPECT_EQ(c.records, 20u);
    EXPECT_EQ(c.missing + c.corrupt + c.cuts + c.skippedBytes + c.outOfOrder, 0u) << "cut " << cut;
  }
  std::mt19937 random(7);
  RecordChecker checker(3, kSize, 0);
  for (size_t at = 0; at < stream.size();) {
    const size_t piece = std::uniform_int_distribution<size_t>(1, 3 * kSize)(random);
    checker.Feed(std::string_view(stream).substr(at, piece));
    at += piece;
  }
  EXPECT_EQ(checker.counts().records, 20u);
  EXPECT_EQ(checker.counts().bytes, stream.size());
}

TEST(LoadRecordTest, JoiningMidStreamSkipsTheLeadingPart) {
  const std::string stream = Stream(10, 5);
  RecordChecker joined(3, kSize);
  joined.Feed(std::string_view(stream).substr(17));
  joined.Finish(14);
  EXPECT_EQ(joined.counts().records, 9u);
  EXPECT_EQ(joined.counts().skippedBytes, kSize - 17);
  EXPECT_EQ(joined.counts().missing, 0u);

  // When the first record is known, records before the first one seen are missing.
  RecordChecker fromZero(3, kSize, 0);
  fromZero.Feed(stream);
  fromZero.Finish(16);
  EXPECT_EQ(fromZero.counts().records, 10u);
  EXPECT_EQ(fromZero.counts().missing, 5u + 2u);
}

TEST(LoadRecordTest, AnAlteredByteAnywhereIsOneCorruptRecord) {
  const std::string stream = Stream(12);
  for (size_t offset = 0; offset < kSize; ++offset) {
    std::string damaged = stream;
    damaged[5 * kSize + offset] = static_cast<char>(damaged[5 * kSize + offset] ^ 0x01);
    RecordChecker checker(3, kSize, 0);
    checker.Feed(damaged);
    checker.Finish(11);
    const auto& c = checker.counts();
    EXPECT_EQ(c.corrupt, 1u) << "offset " << offset;
    EXPECT_EQ(c.records, 11u) << "offset " << offset;
    EXPECT_EQ(c.missing + c.cuts, 0u) << "offset " << offset;
  }
}

TEST(LoadRecordTest, LostPiecesCountTheRecordsTheyTouchAsMissing) {
  const std::string stream = Stream(30);
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    const size_t from = std::uniform_int_distribution<size_t>(kSize, 20 * kSize)(random);
    const size_t to = from + std::uniform_int_distribution<size_t>(1, 5 * kSize)(random);
    std::string cut = stream.substr(0, from) + stream.substr(to);
    RecordChecker checker(3, kSize, 0);
    checker.Feed(cut);
    checker.Finish(29);
    uint64_t touched = (to - 1) / kSize - from / kSize + 1;
    // A cut at the same offset of two records within their first 8 bytes (magic and source index,
    // the same in every record) leaves the later record whole.
    const bool aligned = from % kSize == to % kSize && from % kSize <= 8;
    if (aligned && from % kSize != 0) --touched;
    const auto& c = checker.counts();
    EXPECT_EQ(c.missing, touched) << from << ".." << to;
    EXPECT_EQ(c.records, 30 - touched) << from << ".." << to;
    EXPECT_EQ(c.corrupt, 0u) << from << ".." << to;
    EXPECT_EQ(c.cuts, aligned ? 0u : 1u) << from << ".." << to;
  }
}

TEST(LoadRecordTest, RepeatsForeignRecordsGarbageAndTheMissingTail) {
  std::string stream = Stream(10) + Stream(1, 4);  // record 4 again
  AppendRecord(stream, {9, 10, 0, kSize});         // another source's record
  stream += Stream(2, 10);
  RecordChecker checker(3, kSize, 0);
  checker.Feed(stream);
  checker.Finish(14);
  EXPECT_EQ(checker.counts().records, 12u);
  EXPECT_EQ(checker.counts().outOfOrder, 1u);
  EXPECT_EQ(checker.counts().corrupt, 1u);
  EXPECT_EQ(checker.counts().missing, 3u) << "records 12 to 14 never came";

  // Bytes without any record are passed over, whatever their amount.
  RecordChecker afterNoise(3, kSize);
  const std::string noise(100000, 'K');
  afterNoise.Feed(noise);
  afterNoise.Feed(Stream(3));
  EXPECT_EQ(afterNoise.counts().records, 3u);
  EXPECT_EQ(afterNoise.counts().skippedBytes, noise.size());
}

}  // namespace
