#include <gtest/gtest.h>

#include <random>
#include <string>

#include "gnss/Crc24q.h"
#include "support/GnssFrames.h"

namespace {

using testsupport::Bytes;

TEST(Crc24qTest, CheckValueOfTheCatalogue) {
  const std::string text = "123456789";
  EXPECT_EQ(Crc24q(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0xCDE703u);
  EXPECT_EQ(Crc24q(nullptr, 0), 0u);
}

TEST(Crc24qTest, TableMatchesTheBitwiseDefinition) {
  std::mt19937 random(24);
  for (int round = 0; round < 200; ++round) {
    Bytes data(random() % 1100);
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
    ASSERT_EQ(Crc24q(data.data(), data.size()), testsupport::BitwiseCrc24q(data.data(), data.size()));
  }
}

TEST(BitReaderTest, BitsPastTheEndReadAsZeroAndMarkOverrun) {
  const uint8_t bytes[] = {0xFF, 0xF0};
  BitReader reader(bytes, 2);
  EXPECT_EQ(reader.GetBits(12), 0xFFFu);
  EXPECT_FALSE(reader.Overrun());
  EXPECT_EQ(reader.GetBits(4), 0u);
  EXPECT_FALSE(reader.Overrun());  // the last bit of the data is not past it
  EXPECT_EQ(reader.GetBits(1), 0u);
  EXPECT_TRUE(reader.Overrun());
}

}  // namespace
