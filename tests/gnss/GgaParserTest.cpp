// GGA sentences of a rover: checksum, position, quality statistics, buffering, records and feed.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "app/KavroGyBl.h"
#include "gnss/GgaParser.h"
#include "support/GnssFrames.h"
#include "support/Nmea.h"
#include "support/SendRecorder.h"

namespace {

using namespace testsupport;

std::string Sentence(const std::string& body) { return NmeaSentence(body); }

std::string Gga(const std::string& quality = "4", const std::string& satellites = "08",
                const std::string& age = "1.0", const std::string& latitude = "3015.1234,S",
                const std::string& longitude = "11404.5000,E", const std::string& talker = "GP") {
  return Sentence(talker + "GGA,021505.00," + latitude + "," + longitude + "," + quality + "," + satellites +
                  ",0.9,45.3,M,-3.2,M," + age + ",0000");
}

// Watches a socket; decoder lines only in the decoded-trace mode.
class Console : public DecoderConsole {
 public:
  bool WantsDecoderLines(uint32_t socket) const override { return decoded && socket == 7; }
  bool WatchesSocket(uint32_t socket) const override { return socket == 7; }
  void AddDecoderLine(std::string_view line) override { lines.emplace_back(line); }
  bool decoded = true;
  std::vector<std::string> lines;
};

class GgaParserTest : public ::testing::Test {
 protected:
  GgaParserTest() : clock({2015, 2, 1, 2, 9, 5, 7, 0}), gybl(Settings{}, clock, monitor, steps), sends(gybl) {
    Add(7, "rover1", "NTRIP");
  }
  ClientEntry& Add(uint32_t socket, const std::string& name, const std::string& type) {
    gybl.Accept(socket, sockaddr_in{});
    ClientEntry& e = gybl.clientTable.at(socket);
    e.userName = name;
    gybl.SetClientType(e, type);
    return e;
  }
  int Parse(const std::string& chunk) {
    return ParseGga(gybl, context, reinterpret_cast<const uint8_t*>(chunk.data()),
                    static_cast<uint32_t>(chunk.size()), 7, latitude, longitude, height);
  }
  ClientEntry& rover() { return gybl.clientTable.at(7); }
  int Buffered() { return rover().streamBuffer->Length(); }

  ManualClock clock;
  MonitorEvents monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  SendRecorder sends;
  Console console;
  RecordingRecorder recorder;
  DecoderContext context{monitor, console, recorder, gybl.settings.flags.saveGga};
  double latitude = 1, longitude = 1, height = 1;
};

TEST(NmeaChecksumTest, XorBetweenDollarAndStar) {
  const std::string good = Gga();
  EXPECT_TRUE(NmeaChecksumOk(good));
  std::string bad = good;
  bad[10] ^= 1;
  EXPECT_FALSE(NmeaChecksumOk(bad));
  EXPECT_TRUE(NmeaChecksumOk("$GPGGA,1*4B"));
  EXPECT_TRUE(NmeaChecksumOk("$GPGGA,1*4b"));  // lower-case digits
  EXPECT_FALSE(NmeaChecksumOk("$GPGGA,1*4C"));
  EXPECT_FALSE(NmeaChecksumOk("$GPGGA,1*4"));       // one digit
  EXPECT_FALSE(NmeaChecksumOk("$GPGGA,1,4B\r\n"));  // no star
  EXPECT_TRUE(NmeaChecksumOk("$GPGGA,1,W*3z"));     // XOR 0x30; 'z' counts 0
  EXPECT_FALSE(NmeaChecksumOk("$GPGGA,1,W*31"));
}

TEST_F(GgaParserTest, FixedSolutionWithAgePositionAndCounters) {
  EXPECT_EQ(Parse(Gga()), 1);
  EXPECT_NEAR(latitude, -30.252057, 5e-7);
  EXPECT_DOUBLE_EQ(longitude, 114.075);
  EXPECT_DOUBLE_EQ(height, 45.3);
  EXPECT_EQ(rover().fixQuality, 3);
  EXPECT_EQ(rover().formatState, 1);
  EXPECT_EQ(rover().ggaCounters, (std::array<int32_t, 6>{1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(rover().statusText, "固定解(08/1.0/1.0)");

  // The running mean of the ages: (1.0 + 3.0) / 2.
  EXPECT_EQ(Parse(Gga("5", "09", "3.0", "4807.038,N", "01131.000,W", "GN")), 1);
  EXPECT_NEAR(latitude, 48.1173, 1e-9);
  EXPECT_NEAR(longitude, -11.516666667, 1e-8);
  EXPECT_EQ(rover().statusText, "浮点解(09/3.0/2.0)");
  EXPECT_EQ(rover().ggaCount, 2);

  // An age below one second counts as absent.
  EXPECT_EQ(Parse(Gga("2", "08", "0.6")), 1);
  EXPECT_EQ(rover().statusText, "差分解(08)");
  EXPECT_EQ(rover().ggaCount, 2);
  EXPECT_EQ(rover().fixQuality, 1);
}

TEST_F(GgaParserTest, QualityTable) {
  const struct {
    const char* quality;
    const char* status;
    int fix;
    size_t counter;
  } cases[] = {{"9", "WAAS(08)", 1, 2},
               {"3", "T690差分解(08)", 1, 2},
               {"1", "单点解(08)", 0, 3},
               {"6", "6(08)", 0, 4},
               {"04", "04(08)", 0, 4}};
  for (const auto& c : cases) {
    rover().ggaCounters = {};
    EXPECT_EQ(Parse(Gga(c.quality, "08", "")), 1) << c.quality;
    EXPECT_EQ(rover().statusText, c.status);
    EXPECT_EQ(rover().fixQuality, c.fix) << c.quality;
    EXPECT_EQ(rover().ggaCounters[c.counter], 1) << c.quality;
    EXPECT_EQ(rover().ggaCounters[5], 1) << c.quality;
  }
}

TEST_F(GgaParserTest, NoPositionAndBadChecksum) {
  console.decoded = false;  // the error line reaches a console in either mode
  for (const std::string& sentence : {Gga("0"), Gga("4", "03")}) {
    rover().statusText = "before";
    EXPECT_EQ(Parse(sentence), 0);
    EXPECT_EQ(rover().statusText, "没有定位");
    EXPECT_EQ(latitude, 0.0);
  }
  std::string bad = Gga();
  bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
  EXPECT_EQ(Parse(bad), 0);
  EXPECT_EQ(console.lines, std::vector<std::string>{"=========GGA Error========="});
  EXPECT_EQ(rover().ggaCounters[5], 0);
  EXPECT_EQ(rover().formatState, 0);
  EXPECT_TRUE(recorder.positions.empty());
  EXPECT_EQ(Buffered(), 0);  // the sentence is consumed
}

TEST_F(GgaParserTest, BufferingOneSentencePerShortChunk) {
  const std::string first = Sentence("GPGGA,1,3000.0,N,11400.0,E,4,08,,10.0,,,,");
  const std::string second = NmeaSentence("GPGGA,8,3100.0,N,11500.0,E,4,08,,20.0,,,,", true);  // "*5e"
  ASSERT_LT(first.size() + second.size(), 150u);
  EXPECT_EQ(Parse(first + second), 1);
  EXPECT_DOUBLE_EQ(latitude, 30.0);
  EXPECT_EQ(Buffered(), static_cast<int>(second.size()));
  EXPECT_EQ(Parse("xx"), 1);  // the waiting sentence is handled with the next chunk
  EXPECT_DOUBLE_EQ(latitude, 31.0);
  EXPECT_EQ(Buffered(), 2);

  // A sentence cut across chunks, behind a $GNGGA that a later $GPGGA shadows.
  const std::string shadowed = Gga("4", "08", "", "0100.0,N", "00100.0,E", "GN");
  const std::string sentence = Gga();
  EXPECT_EQ(Parse(shadowed + sentence.substr(0, 20)), 0);
  EXPECT_EQ(Parse(sentence.substr(20)), 1);
  EXPECT_NEAR(latitude, -30.252057, 5e-7);
  EXPECT_EQ(rover().ggaCounters[5], 3);
  EXPECT_EQ(Buffered(), 0);
}

TEST_F(GgaParserTest, GarbageIsKeptUpTo150Bytes) {
  EXPECT_EQ(Parse(std::string(9, 'x')), 0);
  EXPECT_EQ(Parse(std::string(141, 'x')), 0);
  EXPECT_EQ(Buffered(), 150);
  EXPECT_EQ(Parse("x"), 0);
  EXPECT_EQ(Buffered(), 0);

  // A sentence start without its end: kept below 150 bytes, dropped at 150.
  EXPECT_EQ(Parse("$GPGGA," + std::string(142, '1')), 0);
  EXPECT_EQ(Buffered(), 149);
  EXPECT_EQ(Parse("1"), 0);
  EXPECT_EQ(Buffered(), 0);
  // A complete sentence of 150 bytes is dropped whole.
  EXPECT_EQ(Parse("$GPGGA," + std::string(141, '1') + "\r\n" + Gga().substr(0, 10)), 0);
  EXPECT_EQ(Buffered(), 0);
}

// Refused sentences used to end the call with everything behind them still buffered: a rover that
// sent several refused sentences per chunk grew its buffer without bound.
TEST_F(GgaParserTest, RefusedSentencesDoNotGrowTheBuffer) {
  std::string badChecksum = Gga();
  badChecksum[badChecksum.size() - 3] ^= 1;
  const struct {
    const char* name;
    std::string chunk;
  } cases[] = {
      {"bad checksum", badChecksum + badChecksum + badChecksum},
      {"too few satellites", Gga("4", "03") + Gga("4", "02") + Gga("1", "01")},
      {"no position", Gga("0") + Gga("0") + Gga("0")},
      {"out of range", Gga("4", "08", "1.0", "9999.0,N") + Gga("4", "08", "1.0", "9999.0,S")},
      // Found by the GGA fuzz target: a refused sentence, then one longer than 150 bytes.
      {"refused then long", badChecksum + "$GNGGA," + std::string(150, '\xff') + "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int round = 0; round < 20; ++round) {
      EXPECT_EQ(Parse(c.chunk), 0);
      ASSERT_LE(Buffered(), kGgaBufferLimit);
    }
  }
  // A good sentence behind refused ones in the same call still counts.
  EXPECT_EQ(Parse(badChecksum + Gga() + std::string(80, 'y')), 1);
  EXPECT_NEAR(latitude, -30.252057, 5e-7);
}

TEST_F(GgaParserTest, AcceptedPositionSurvivesTrailingBytes) {
  // Other sentences after the GGA in one chunk: the position stands, the rest is dropped.
  EXPECT_EQ(Parse(Gga() + std::string(200, 'y')), 1);
  EXPECT_NEAR(latitude, -30.252057, 5e-7);
  EXPECT_EQ(Buffered(), 0);
  // A GetCoordinate request answers 1 without a position or a checksum.
  EXPECT_EQ(Parse("$GPGGA,GetCoordinate\r\n"), 1);
  EXPECT_EQ(latitude, 0.0);
  EXPECT_EQ(longitude, 0.0);
}

TEST_F(GgaParserTest, RecordsFeedAndConsoleLines) {
  Add(8, "watcher", "GETGGA");
  Add(9, "other", "NTRIP");
  gybl.settings.flags.positionManagement = 1;
  const std::string sentence = Gga();
  EXPECT_EQ(Parse(sentence), 1);
  ASSERT_EQ(recorder.positions.size(), 1u);
  EXPECT_EQ(recorder.positions[0].name, "rover1");
  EXPECT_EQ(recorder.positions[0].gga, sentence);
  EXPECT_DOUBLE_EQ(recorder.positions[0].l, 114.075);
  ASSERT_EQ(sends.sent.size(), 1u);
  EXPECT_EQ(sends.sent[0].socket, 8u);
  EXPECT_EQ(sends.sent[0].bytes, "rover1," + sentence);
  EXPECT_EQ(console.lines, std::vector<std::string>{"rover1 <-- " + sentence});

  // Out of range, north or south, or no number: recorded and fed all the same, but not accepted.
  for (const std::string& far :
       {Gga("4", "08", "", "9500.0,N"), Gga("4", "08", "", "9500.0,S"), Gga("4", "08", "", "nan,N"),
        Sentence("GPGGA,1,3000.0,N,11400.0,E,4,08,,90001.0,,,,")}) {
    rover().statusText = "kept";
    EXPECT_EQ(Parse(far), 0) << far;
    EXPECT_EQ(rover().statusText, "kept");
  }
  EXPECT_EQ(recorder.positions.size(), 5u);
  EXPECT_EQ(sends.sent.size(), 5u);
  EXPECT_EQ(rover().ggaCounters[5], 1);

  gybl.settings.flags.saveGga = 0;
  gybl.settings.flags.positionManagement = 0;
  EXPECT_EQ(Parse(sentence), 1);
  EXPECT_EQ(recorder.positions.size(), 5u);
  EXPECT_EQ(sends.sent.size(), 5u);
}

}  // namespace
