#include <gtest/gtest.h>

#include <string>

#include "core/ntrip/Base64.h"

namespace {

TEST(Base64Test, StandardRoundTripAndPadding) {
  for (const std::string& text : {std::string(), std::string("u"), std::string("us"), std::string("use"),
                                  std::string("user:pass"), std::string("a\0\xff:", 4)}) {
    EXPECT_EQ(DecodeBase64(EncodeBase64(text)), text) << text;
  }
  EXPECT_EQ(EncodeBase64("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(DecodeBase64("YWI="), "ab");
  EXPECT_EQ(DecodeBase64("YQ=="), "a");
  EXPECT_EQ(DecodeBase64("YWJj\r\nZGVm"), "abcdef");  // non-symbols are passed over
}

TEST(Base64Test, UnpaddedFinalGroupGivesItsWholeBytes) {
  EXPECT_EQ(DecodeBase64("YWI"), "ab");         // 18 bits: two bytes, two bits dropped
  EXPECT_EQ(DecodeBase64("YQ"), "a");           // 12 bits: one byte
  EXPECT_EQ(DecodeBase64("Y"), "");             // 6 bits: no whole byte
  EXPECT_EQ(DecodeBase64("YWJjZA=x"), "abcd");  // output ends at the padding
}

}  // namespace
