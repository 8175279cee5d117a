#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ntrip/ChunkedDecoder.h"

namespace {

using Status = ChunkedDecoder::Status;

struct Decoded {
  std::string body;
  Status status;
};

// Feeds the pieces in order, as reads would deliver them.
Decoded Feed(const std::vector<std::string>& pieces) {
  ChunkedDecoder decoder;
  Decoded out{{}, Status::kMore};
  for (std::string piece : pieces) {
    const ChunkedDecoder::Result r = decoder.Decode(reinterpret_cast<uint8_t*>(piece.data()), piece.size());
    out.body.append(piece.data(), r.length);
    out.status = r.status;
  }
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::string body;
  Status status;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"one chunk then the last", "5\r\nhello\r\n0\r\n\r\n", "hello", Status::kEnd},
      {"hex of both cases", "A\r\n0123456789\r\nb\r\nabcdefghijk\r\n", "0123456789abcdefghijk",
       Status::kMore},
      {"extension", "5;name=\"v;x\"\r\nhello\r\n", "hello", Status::kMore},
      {"blanks before extension", "5 \t;x\r\nhello\r\n", "hello", Status::kMore},
      {"leading zeros", "000000005\r\nhello\r\n", "hello", Status::kMore},
      {"line ends inside data", "4\r\n\r\n\r\n\r\n", "\r\n\r\n", Status::kMore},
      {"trailer lines", "2\r\nab\r\n0\r\nX-A: 1\r\nX-B: 2\r\n\r\n", "ab", Status::kEnd},
      {"bytes after the end", "0\r\n\r\nSOURCE x /y\r\n\r\n", "", Status::kEnd},
      {"not hex", "g\r\nhello\r\n", "", Status::kError},
      {"bad hex after good chunk", "5\r\nhello\r\nzz\r\n", "hello", Status::kError},
      {"digit then junk", "5x\r\nhello\r\n", "", Status::kError},
      {"no size", "\r\nhello\r\n", "", Status::kError},
      {"extension without size", ";x\r\n", "", Status::kError},
      {"size over 32 bits", "100000000\r\n", "", Status::kError},
      {"bare LF after size", "5\nhello\r\n", "", Status::kError},
      {"data longer than its size", "5\r\nhello!\r\n", "hello", Status::kError},
      {"LF in extension", "5;a\nb\r\nhello", "", Status::kError},
      {"over-long extension", "1;" + std::string(2000, 'x') + "\r\nz\r\n", "", Status::kError},
      {"final line not empty", "0\r\n\rx", "", Status::kError},
  };
  return cases;
}

TEST(ChunkedDecoderTest, TableOfBodies) {
  for (const Case& c : Cases()) {
    const Decoded whole = Feed({c.input});
    EXPECT_EQ(whole.body, c.body) << c.name;
    EXPECT_EQ(whole.status, c.status) << c.name;
  }
}

// Every case cut at every offset, and byte by byte, decodes as when it came whole.
TEST(ChunkedDecoderTest, EverySplitDecodesAlike) {
  for (const Case& c : Cases()) {
    for (size_t cut = 0; cut <= c.input.size(); ++cut) {
      const Decoded split = Feed({c.input.substr(0, cut), c.input.substr(cut)});
      EXPECT_EQ(split.body, c.body) << c.name << " cut at " << cut;
      EXPECT_EQ(split.status, c.status) << c.name << " cut at " << cut;
    }
    std::vector<std::string> bytes;
    for (char ch : c.input) bytes.emplace_back(1, ch);
    EXPECT_EQ(Feed(bytes).body, c.body) << c.name << " byte by byte";
  }
}

}  // namespace
