// Requests, reply headers, GGA sentences and options of the load tool.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/LoadEngine.h"
#include "tools/LoadProtocol.h"

namespace {

using namespace ntripload;
using std::chrono::system_clock;

// The NMEA check: XOR of the characters between "$" and "*" against the two hex digits after "*".
bool NmeaChecksumRight(const std::string& sentence) {
  const size_t star = sentence.find('*');
  if (sentence.empty() || sentence[0] != '$' || star == std::string::npos || star + 3 > sentence.size()) {
    return false;
  }
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(sentence[i]);
  return std::stoul(sentence.substr(star + 1, 2), nullptr, 16) == sum;
}

std::vector<std::string> Fields(const std::string& sentence) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = sentence.find_first_of(",*", start)) != std::string::npos; start = at + 1) {
    fields.push_back(sentence.substr(start, at - start));
  }
  return fields;
}

system_clock::time_point Utc(int hour, int minute, int second, int millis) {
  // 2024-03-01 00:00:00 UTC plus the time of day.
  return system_clock::time_point(std::chrono::seconds(1709251200) + std::chrono::hours(hour) +
                                  std::chrono::minutes(minute) + std::chrono::seconds(second) +
                                  std::chrono::milliseconds(millis));
}

TEST(LoadProtocolTest, GgaSentences) {
  ASSERT_TRUE(NmeaChecksumRight("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"));
  ASSERT_FALSE(NmeaChecksumRight("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48"));

  const std::string north = MakeGga({48.1173, 11.516667, 545.4}, Utc(12, 35, 19, 470));
  EXPECT_TRUE(NmeaChecksumRight(north)) << north;
  ASSERT_GE(north.size(), 2u);
  EXPECT_EQ(north.substr(north.size() - 2), "\r\n");
  auto f = Fields(north);
  ASSERT_GE(f.size(), 15u) << north;
  EXPECT_EQ(f[0], "$GPGGA");
  EXPECT_EQ(f[1], "123519.47");
  EXPECT_EQ(f[2] + f[3], "4807.03800N");
  EXPECT_EQ(f[4] + f[5], "01131.00002E");
  EXPECT_EQ(f[6], "1");
  EXPECT_EQ(f[9] + f[10], "545.400M");

  const std::string south = MakeGga({-33.5, -70.25, -12}, Utc(0, 0, 5, 0));
  EXPECT_TRUE(NmeaChecksumRight(south)) << south;
  f = Fields(south);
  EXPECT_EQ(f[1], "000005.00");
  EXPECT_EQ(f[2] + f[3], "3330.00000S");
  EXPECT_EQ(f[4] + f[5], "07015.00000W");
  EXPECT_EQ(f[9], "-12.000");

  // Minutes that round up to 60 carry into the degrees.
  f = Fields(MakeGga({10.9999999999, 179.99999999999, 0}, Utc(23, 59, 59, 999)));
  EXPECT_EQ(f[1], "235959.99");
  EXPECT_EQ(f[2], "1100.00000");
  EXPECT_EQ(f[4], "18000.00000");
}

TEST(LoadProtocolTest, RequestsAndCredentials) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
  EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\x00", 3)), "//4A");

  EXPECT_EQ(SourceRequest("pw", "LOAD0"), "SOURCE pw /LOAD0\r\nSource-Agent: NTRIP KavroLoad/1.0\r\n\r\n");
  EXPECT_EQ(SourceRequest("pw", "M", false), "SOURCE pw M\r\nSource-Agent: NTRIP KavroLoad/1.0\r\n\r\n");
  const std::string v1 =
      RoverRequest("127.0.0.1", "LOAD1", Numbered("load%d", 7), Numbered("pw%d", 7), false);
  EXPECT_EQ(v1,
            "GET /LOAD1 HTTP/1.0\r\nUser-Agent: NTRIP KavroLoad/1.0\r\n"
            "Authorization: Basic bG9hZDc6cHc3\r\n\r\n");
  const std::string v2 = RoverRequest("127.0.0.1", "LOAD1", "u", "p", true);
  EXPECT_EQ(v2.rfind("GET /LOAD1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(v2.find("\r\nNtrip-Version: Ntrip/2.0\r\n"), std::string::npos);
  EXPECT_NE(v2.find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
  EXPECT_EQ(v2.find("\r\n\r\n"), v2.size() - 4);
  EXPECT_EQ(Numbered("a%db%d%", 12), "a12b12%");
}

TEST(LoadProtocolTest, ReplyHeaders) {
  using State = ReplyHeader::State;
  const std::string rover = "ICY 200 OK\r\nServer: X \r\nDate: 2024/03/01 10:00:00\r\n\r\nKvLd";
  for (size_t cut = 0; cut < rover.size() - 4; ++cut) {
    EXPECT_EQ(ReadReplyHeader(rover.substr(0, cut), false).state, State::Incomplete) << cut;
  }
  const auto accepted = ReadReplyHeader(rover, false);
  EXPECT_EQ(accepted.state, State::Accepted);
  EXPECT_EQ(accepted.length, rover.size() - 4);
  EXPECT_EQ(accepted.firstLine, "ICY 200 OK");
  EXPECT_EQ(ReadReplyHeader("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n\r\n", false).state,
            State::Accepted);

  EXPECT_EQ(ReadReplyHeader("SOURCETABLE 200 OK\r\n", false).state, State::Refused);
  EXPECT_EQ(ReadReplyHeader("HTTP/1.1 401 Unauthorized \r\n", false).state, State::Refused);
  EXPECT_EQ(ReadReplyHeader("ERROR - Bad Password \r\n\r\n", true).firstLine, "ERROR - Bad Password ");

  EXPECT_EQ(ReadReplyHeader("ICY 200 OK\r\n", true).length, 12u);
  EXPECT_EQ(ReadReplyHeader("ICY 200 OK\r\n\r\n", true).length, 14u);
  EXPECT_EQ(ReadReplyHeader("ICY 200 OK", true).state, State::Incomplete);
}

TEST(LoadProtocolTest, OptionsAndTheLoopbackRule) {
  auto parse = [](std::vector<std::string> args, Options& options, std::string& error) {
    return ParseOptions(args, options, error);
  };
  Options o;
  std::string error;
  ASSERT_EQ(parse({"--port", "2101", "--rovers=25", "--gga", "--ntrip2", "--rate", "500.5", "--host",
                   "127.0.0.2", "--user", "u%d", "--min-ratio", "0.9", "--json", "--no-slash"},
                  o, error),
            ParseResult::Run)
      << error;
  EXPECT_EQ(o.port, 2101);
  EXPECT_EQ(o.rovers, 25);
  EXPECT_TRUE(o.gga && o.ntrip2 && o.json);
  EXPECT_FALSE(o.sourceSlash);
  EXPECT_DOUBLE_EQ(o.rate, 500.5);
  EXPECT_EQ(o.user, "u%d");
  EXPECT_DOUBLE_EQ(o.minRatio, 0.9);

  for (const std::string host : {"::1", "127.255.0.1"}) {
    Options loop;
    EXPECT_EQ(parse({"--host", host}, loop, error), ParseResult::Run) << host;
  }
  for (const std::string host : {"10.0.0.1", "0.0.0.0", "192.168.1.2", "example.com", "::ffff:8.8.8.8"}) {
    Options remote;
    EXPECT_EQ(parse({"--host", host}, remote, error), ParseResult::Error) << host;
    EXPECT_NE(error.find("loopback"), std::string::npos);
  }
  const std::vector<std::vector<std::string>> bad = {{"--duration", "3601"},
                                                     {"--chunk", "31"},
                                                     {"--port", "0"},
                                                     {"--rovers", "1.5"},
                                                     {"--rate", "x"},
                                                     {"--port"},
                                                     {"--bogus"},
                                                     {"stray"},
                                                     {"--gga=1"},
                                                     {"--sources", "0"}};
  for (const auto& args : bad) {
    Options rejected;
    EXPECT_EQ(parse(args, rejected, error), ParseResult::Error) << args[0];
  }
  EXPECT_EQ(parse({"--rovers", "3", "--help"}, o, error), ParseResult::Help);
}

TEST(LoadProtocolTest, UpstreamMountpointsComeWithoutSources) {
  Options o;
  std::string error;
  ASSERT_EQ(ParseOptions({"--sources", "0", "--mount", "UP1,UP2", "--mount", "UP3"}, o, error),
            ParseResult::Run)
      << error;
  EXPECT_EQ(o.upstreamMounts, (std::vector<std::string>{"UP1", "UP2", "UP3"}));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--sources", "0"},
                                             {"--mount", "UP1"},
                                             {"--sources", "0", "--mount", "UP1,"},
                                             {"--sources", "0", "--mount", ",UP1"},
                                             {"--sources", "0", "--mount", "/UP1"}}) {
    Options rejected;
    EXPECT_EQ(ParseOptions(args, rejected, error), ParseResult::Error) << args.back();
  }
}

TEST(LoadProtocolTest, FramingAndProcessOptions) {
  struct Case {
    std::vector<std::string> args;
    const char* error;  // part of the message; nullptr: accepted
  };
  const std::string self = std::to_string(getpid());
  const Case cases[] = {
      {{"--rtcm3", "--chunk", "1021"}, nullptr},
      {{"--rtcm3", "--chunk", "1022"}, "at most 1021 bytes"},
      {{"--chunk", "1022"}, nullptr},
      {{"--rtcm3", "--sources", "0", "--mount", "UP1"}, "--rtcm3 needs"},
      {{"--pid", self}, nullptr},
      {{"--pid", "0"}, "--pid"},
      {{"--pid", "1073741823"}, "no process"},
      {{"--pid", "x"}, "--pid"},
  };
  for (const Case& c : cases) {
    Options options;
    std::string error;
    const ParseResult result = ParseOptions(c.args, options, error);
    if (c.error == nullptr) {
      EXPECT_EQ(result, ParseResult::Run) << c.args[1] << ": " << error;
    } else {
      EXPECT_EQ(result, ParseResult::Error) << c.args[1];
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

}  // namespace
