#include <gtest/gtest.h>

#include <string>

#include "app/Settings.h"
#include "core/ClientEntry.h"
#include "core/ntrip/ReceiverCode.h"

namespace {

// Encodes bytes with the alphabet rotated left by r (the receiver's side of the coding).
std::string Encode(const std::string& bytes, int r) {
  std::string alphabet = kDefaultReceiverAlphabet;
  alphabet = alphabet.substr(r) + alphabet.substr(0, r);
  std::string out;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[(group >> shift) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = static_cast<unsigned char>(bytes[i]);
    out += alphabet[v >> 2];
    out += alphabet[(v & 3) << 4];
  }
  return out;
}

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
