#include <gtest/gtest.h>

#include <string>

#include "app/Settings.h"
#include "core/ClientEntry.h"
#include "core/ntrip/ReceiverCode.h"
#include "support/ReceiverCodes.h"

namespace {

using testsupport::Encode;

ClientEntry WithAgent(const std::string& agent) {
  ClientEntry entry;
  entry.agent = agent;
  DecodeReceiverCode(entry, kDefaultReceiverAlphabet);
  return entry;
}

TEST(ReceiverCodeTest, PlainAndMissingFields) {
  ClientEntry none = WithAgent(" NTRIP RTKLIB/2.4.3");
  EXPECT_EQ(none.receiverCodeKind, kReceiverCodeNone);
  EXPECT_EQ(none.agent, " NTRIP RTKLIB/2.4.3");

  ClientEntry plain = WithAgent(" NTRIP a.b.c.d.SN4711.f");
  EXPECT_EQ(plain.receiverCodeKind, kReceiverCodePlain);
  EXPECT_EQ(plain.receiverCode, "SN4711");
  EXPECT_EQ(plain.agent, " NTRIP a.b.c.d..fSN4711");  // the field moves to the end
}

TEST(ReceiverCodeTest, CodedFieldsUseTheRotatedAlphabet) {
  // "-": the decoded bytes as they are; the rotation is the leading number modulo 63 (1234 -> 37).
  const std::string coded = "1234-" + Encode("SN:0042", 37);
  ClientEntry entry = WithAgent(" NTRIP x.y.z.w." + coded);
  EXPECT_EQ(entry.receiverCodeKind, kReceiverCodeCoded);
  EXPECT_EQ(entry.receiverCode, "SN:0042");
  EXPECT_EQ(entry.agent, " NTRIP x.y.z.w.SN:0042");

  // "*": first byte kept, the rest in hexadecimal; the last four digits sign the field.
  const std::string signedField = "1234*" + Encode(std::string("K\xAB\x12\x34", 4), 37);
  ClientEntry good = WithAgent("a.b.c.d." + signedField);
  EXPECT_EQ(good.receiverCode, "KAB1234");
  EXPECT_EQ(good.receiverCodeKind, kReceiverCodeSigned);

  const std::string badField = "1234*" + Encode(std::string("K\xAB\x12\x35", 4), 37);
  EXPECT_EQ(WithAgent("a.b.c.d." + badField).receiverCodeKind, kReceiverCodeBadSignature);

  // A multiple of 63 does not rotate.
  EXPECT_EQ(DecodeReceiverField("0063-" + Encode("abc", 0), kDefaultReceiverAlphabet), "abc");
  EXPECT_EQ(DecodeReceiverField("ab", kDefaultReceiverAlphabet), "ab");
}

TEST(ReceiverCodeTest, AlphabetSettingMustBeAPermutation) {
  EXPECT_TRUE(IsReceiverAlphabet(kDefaultReceiverAlphabet));
  std::string twice = kDefaultReceiverAlphabet;
  twice[1] = twice[0];
  EXPECT_FALSE(IsReceiverAlphabet(twice));
  EXPECT_FALSE(IsReceiverAlphabet("ABC"));
}

}  // namespace
