// Link lines, first-line recognition and options of the network server stand-in.
#include <gtest/gtest.h>

#include "tools/NetServerOptions.h"
#include "tools/NetServerProtocol.h"

namespace {

using namespace netserver;

TEST(NetServerProtocolTest, LinkRecords) {
  EXPECT_EQ(MountRecord({"RTK1", 1, "RTCM 3.2, city, north"}),
            "VORAN,MOUNT,RTK1,1,RTCM 3.2_ city_ north\r\n");
  EXPECT_EQ(MountRecord({"C", 2, ""}), "VORAN,MOUNT,C,2,\r\n");
  EXPECT_EQ(MountEndRecord("KAVRONET", "two words"), "VORAN,MOUNTEND,KAVRONET,two words\r\n");
  EXPECT_EQ(RangeRecord({30, 40.5, -110.25, 120, kDefaultDataVersion}),
            "VORAN,RANGE,30,40.5,-110.25,120,140818\r\n");
  EXPECT_EQ(RangeRecord({-0.0000000001, 0.123456789, 0, 1e-9, 7}),
            "VORAN,RANGE,0,0.123456789,0,0.000000001,7\r\n");
  EXPECT_EQ(StatusRecord({{"B1", 90, -180}, {}}), "VORAN,BASE,B1,1.5707963268,-3.1415926536,OK\r\n");
  EXPECT_EQ(StatusRecord({{"A", 45, 0}, Station{"B", -30, 60}}),
            "VORAN,LINE,A,0.7853981634,0.0000000000,B,-0.5235987756,1.0471975512,OK\r\n");

  // "VORAN,MOUNT,M,1," and "\r\n" leave 382 bytes of description within 400.
  EXPECT_EQ(MountRecord({"M", 1, std::string(382, 'd')})->size(), kMaxLine);
  EXPECT_FALSE(MountRecord({"M", 1, std::string(383, 'd')}));
  EXPECT_FALSE(MountEndRecord(std::string(200, 'a'), std::string(200, 'b')));
  EXPECT_FALSE(StatusRecord({{std::string(300, 'a'), 0, 0}, Station{std::string(60, 'b'), 0, 0}}));
}

TEST(NetServerProtocolTest, FirstLines) {
  const std::pair<const char*, LineKind> kinds[] = {
      {"VORAN,KAVOROSERVER,1,0", LineKind::Link}, {"VORAN,GETMODE,M", LineKind::Rover},
      {"VORAN,BASE,OK", LineKind::Other},         {"voran,GETMODE,M", LineKind::Ignored},
      {"GET / HTTP/1.0", LineKind::Ignored},      {"", LineKind::Ignored}};
  for (const auto& [line, kind] : kinds) EXPECT_EQ(Classify(line), kind) << line;

  std::string problem;
  const auto greeting = ParseLinkGreeting("VORAN,KAVOROSERVER,20261209,15", problem);
  ASSERT_TRUE(greeting) << problem;
  EXPECT_EQ(greeting->build, 20261209);
  EXPECT_EQ(greeting->slot, 15);
  for (const char* bad :
       {"VORAN,KAVOROSERVER,20261209,16", "VORAN,KAVOROSERVER,2026x,0", "VORAN,KAVOROSERVER,1",
        "VORAN,KAVOROSERVER,1,0,0", "VORAN,KAVOROSERVER,,0", "VORAN,KAVOROSERVER,1,-1"}) {
    EXPECT_FALSE(ParseLinkGreeting(bad, problem)) << bad;
  }

  const std::string good =
      "VORAN,GETMODE,RTK1,user7,1,0,0,-12.50000,0.00000,3.25000,0.000001000000,-0.000002000000,"
      "0.000000000000,1.000004000000";
  const auto mode = ParseGetMode(good, problem);
  ASSERT_TRUE(mode) << problem;
  EXPECT_EQ(mode->mount, "RTK1");
  EXPECT_EQ(mode->user, "user7");
  EXPECT_TRUE(mode->useSeven);
  EXPECT_FALSE(mode->useUndulation);
  EXPECT_DOUBLE_EQ(mode->shift[0], -12.5);
  EXPECT_DOUBLE_EQ(mode->shift[2], 3.25);
  EXPECT_DOUBLE_EQ(mode->rotation[1], -0.000002);
  EXPECT_DOUBLE_EQ(mode->scale, 1.000004);
  // One fault each: the text in the good line and what replaces it.
  const std::pair<const char*, const char*> faults[] = {{"RTK1,", ","},
                                                        {"user7,1,", "user7,2,"},
                                                        {"1,0,0,", "1,1,0,"},
                                                        {"1,0,0,-", "1,0,x,-"},
                                                        {"-12.50000", "-12.5000"},
                                                        {"3.25000", "3.250000"},
                                                        {"0.000001000000", "0.00000100000"},
                                                        {"1.000004000000", "1.000004e0"},
                                                        {"0.000000000000,", "-.000000000000,"}};
  for (const auto& [from, to] : faults) {
    std::string line = good;
    line.replace(line.find(from), std::string_view(from).size(), to);
    EXPECT_FALSE(ParseGetMode(line, problem)) << line;
  }
  EXPECT_FALSE(ParseGetMode(good + ",0", problem));
  EXPECT_FALSE(ParseGetMode(good.substr(0, good.rfind(',')), problem));
}

TEST(NetServerProtocolTest, LinesAndGga) {
  std::string inbox = "VORAN,GETMODE,A\r\n$GPGGA,1\nrest";
  EXPECT_EQ(TakeLine(inbox), "VORAN,GETMODE,A");
  EXPECT_EQ(TakeLine(inbox), "$GPGGA,1");
  EXPECT_FALSE(TakeLine(inbox));
  EXPECT_EQ(inbox, "rest");
  for (const char* gga : {"$GPGGA,123519,4807.038,N", "$GNGGA,", "$GLGGA,"}) EXPECT_TRUE(IsGga(gga)) << gga;
  for (const char* other : {"$GPRMC,1", "GPGGA,1", "$GPGGA", "$GPGGAX,"}) EXPECT_FALSE(IsGga(other)) << other;
}

TEST(NetServerProtocolTest, Options) {
  Options o;
  std::string error;
  ASSERT_EQ(ParseOptions({"--port", "0", "--mount", "A:0:x: y, z", "--mount=B:2:", "--range", "1,2,3,4,5",
                          "--line", "L1,1,2,L2,-3,-4", "--base", "B,5,6", "--stream", "f.rtcm", "--chunk",
                          "64", "--status-every", "0", "--log-gga"},
                         o, error),
            ParseResult::Run)
      << error;
  EXPECT_EQ(o.port, 0);
  ASSERT_EQ(o.mounts.size(), 2u);
  EXPECT_EQ(o.mounts[0].description, "x: y, z");
  EXPECT_EQ(o.mounts[1].formatIndex, 2);
  ASSERT_TRUE(o.range);
  EXPECT_EQ(o.range->version, 5);
  ASSERT_EQ(o.statuses.size(), 2u);
  EXPECT_TRUE(o.statuses[0].second && !o.statuses[1].second);
  EXPECT_EQ(o.payload, Payload::File);
  EXPECT_TRUE(o.logGga);

  Options defaults;
  ASSERT_EQ(ParseOptions({}, defaults, error), ParseResult::Run) << error;
  ASSERT_EQ(defaults.mounts.size(), 1u);
  EXPECT_EQ(MountRecord(defaults.mounts[0]), "VORAN,MOUNT,UPSTREAM1,1,RTCM 3.2 upstream\r\n");
  EXPECT_FALSE(defaults.range);
  ASSERT_EQ(defaults.statuses.size(), 1u);
  EXPECT_EQ(defaults.statuses[0].first.name, "UPSTREAM1");

  const std::vector<std::vector<std::string>> bad = {{"--host", "10.0.0.1"},
                                                     {"--host", "0.0.0.0"},
                                                     {"--mount", "A:3:x"},
                                                     {"--mount", "A,B:1:x"},
                                                     {"--mount", "A1x"},
                                                     {"--mount", ":1:x"},
                                                     {"--mount", "A:1:a\tb"},
                                                     {"--range", "40,30,0,1"},
                                                     {"--range", "1,2,3"},
                                                     {"--range", "1,2,3,181"},
                                                     {"--base", "A,91,0"},
                                                     {"--base", "A,1"},
                                                     {"--line", "A,1,2,B,3"},
                                                     {"--records", "--stream", "f"},
                                                     {"--chunk", "31"},
                                                     {"--duration", "0"},
                                                     {"--duration", "86401"},
                                                     {"--server-name", "a,b"},
                                                     {"--port", "65536"},
                                                     {"--bogus"},
                                                     {"--mount", "M:1:" + std::string(383, 'd')},
                                                     {"--max-connections", "0"},
                                                     {"stray"},
                                                     {"--rate"}};
  for (const auto& args : bad) {
    Options rejected;
    EXPECT_EQ(ParseOptions(args, rejected, error), ParseResult::Error) << args[0] << " " << args.back();
  }
  EXPECT_EQ(ParseOptions({"--port", "1", "--help"}, o, error), ParseResult::Help);
}

}  // namespace
