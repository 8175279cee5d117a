// What happens to the data of established connections: relay of a base's chunks, a rover's position
// with its fence, nearest base and forwarding, records and echo. Sends are captured at the write event.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/CasterHandlers.h"
#include "core/RecordFile.h"
#include "core/Relay.h"
#include "core/ntrip/Base64.h"
#include "core/ntrip/NtripServices.h"
#include "gnss/NearestBase.h"
#include "link/KavroNetClient.h"
#include "link/LoopbackServer.h"
#include "support/GnssFrames.h"
#include "support/Nmea.h"
#include "support/NoAccounts.h"
#include "support/QuietServices.h"
#include "support/SendRecorder.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr double kMetre = 1.0 / (3600.0 * 30.0);  // one unit of the nearest-base measure, in degrees

class DataDispatchTest : public ::testing::Test {
 protected:
  DataDispatchTest()
      : clock({2015, 2, 1, 2, 9, 5, 7, 0}),
        gybl(Settings{}, clock, monitor, steps),
        sends(gybl),
        accounts(gybl.settings.flags),
        handlers(gybl, accounts, services, decoders) {
    directory = fs::temp_directory_path() / ("kavro-dispatch-" + std::to_string(getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory / "BASE");
    fs::create_directories(directory / "KML");
    gybl.programDirectory = directory.string() + "/";
  }
  ~DataDispatchTest() override { fs::remove_all(directory); }

  ClientEntry& Add(uint32_t socket, const std::string& name, const std::string& type, int32_t format) {
    gybl.Accept(socket, sockaddr_in{});
    ClientEntry& e = gybl.clientTable.at(socket);
    e.userName = name;
    gybl.SetClientType(e, type);
    e.dataFormat = format;
    return e;
  }
  ClientEntry& Base(uint32_t socket, const std::string& name, int32_t format, double latitude,
                    double longitude) {
    ClientEntry& e = Add(socket, name, "BASE", format);
    e.position = {latitude, longitude, 100.0};
    return e;
  }
  // The chunk arrives in a writable area, as the request classifier passes it on.
  void Feed(uint32_t socket, const std::string& chunk) {
    std::vector<uint8_t> area(chunk.begin(), chunk.end());
    handlers.DispatchData(area.data(), static_cast<uint32_t>(chunk.size()), socket);
  }
  std::string Sent(uint32_t socket) const {
    std::string all;
    for (const auto& s : sends.sent)
      if (s.socket == socket) all += s.bytes;
    return all;
  }
  std::vector<uint32_t> Links(uint32_t socket) {
    std::vector<uint32_t> keys;
    for (const auto& [key, name] : gybl.clientTable.at(socket).links) keys.push_back(key);
    return keys;
  }
  std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  ManualClock clock;
  RecordingMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  SendRecorder sends;
  testsupport::NoAccounts accounts;
  QuietServices services;
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext decoders{monitor, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers;
  fs::path directory;
};

TEST_F(DataDispatchTest, BaseChunkReachesRoverInAreaOthersGetTheirNotice) {
  gybl.settings.flags.mustNeedGga = 1;
  gybl.settings.flags.useWorkAreas = 1;
  Base(5, "RTK1", 3, 30.2, 114.0);
  for (uint32_t rover : {6u, 7u, 8u}) {
    Add(rover, "rover" + std::to_string(rover), "NTRIP", 0);
    ASSERT_EQ(LinkToBase(gybl.clientTable, "RTK1", rover), 1);
  }
  gybl.clientTable.at(6).areaBounds = {30.0, 30.5, 113.5, 114.5};
  gybl.clientTable.at(7).areaBounds = {31.0, 31.5, 113.5, 114.5};
  Feed(6, GgaAt(30.2, 114.0));
  Feed(7, GgaAt(30.2, 114.0));
  EXPECT_EQ(Sent(6), "");
  EXPECT_EQ(Sent(7), "VORAN,OUTDIST,\r\n");

  sends.sent.clear();
  const std::string chunk("\xd3\x00\x13rtcm\0bytes\r\n", 16);
  Feed(5, chunk);
  EXPECT_EQ(Sent(6), chunk);
  EXPECT_EQ(Sent(7), "VORAN,OUTDIST,\r\n");
  EXPECT_EQ(Sent(8), "Waiting for GGA,\r\n");
  EXPECT_EQ(Sent(5), "");
}

TEST_F(DataDispatchTest, WorkAreaFence) {
  gybl.settings.flags.useWorkAreas = 1;
  ClientEntry& rover = Add(6, "rover6", "NTRIP", 0);
  rover.areaBounds = {30.5, 30.0, 114.5, 113.5};  // given high to low
  Feed(6, GgaAt(30.2, 114.0));
  Feed(6, GgaAt(30.5, 113.5));  // on the bounds
  EXPECT_EQ(Sent(6), "");
  EXPECT_EQ(gybl.clientTable.at(6).roveFlagA, 0);

  Feed(6, GgaAt(31.0, 114.0));
  Feed(6, GgaAt(30.2, 115.0));
  EXPECT_EQ(Sent(6), "VORAN,OUTDIST,\r\nVORAN,OUTDIST,\r\n");
  EXPECT_EQ(gybl.clientTable.at(6).roveFlagA, 1);
  sends.sent.clear();
  Feed(6, GgaAt(30.2, 114.0));
  Feed(6, GgaAt(30.3, 114.0));
  EXPECT_EQ(Sent(6), "VORAN,INDIST,\r\n");
  EXPECT_EQ(gybl.clientTable.at(6).roveFlagA, 0);

  // An account whose work area does not exist is fenced everywhere; one without an area never, nor
  // anyone while work areas are off.
  sends.sent.clear();
  gybl.clientTable.at(6).areaBounds = {-1.0, -1.0, -1.0, -1.0};
  Feed(6, GgaAt(30.2, 114.0));
  Feed(6, GgaAt(-30.2, -114.0));
  EXPECT_EQ(Sent(6), "VORAN,OUTDIST,\r\nVORAN,OUTDIST,\r\n");
  Add(7, "rover7", "NTRIP", 0).areaBounds = {0.0, 0.0, 0.0, 0.0};
  Feed(7, GgaAt(30.2, 114.0));
  Feed(7, GgaAt(-80.0, 170.0));
  Add(8, "rover8", "NTRIP", 0).areaBounds = {31.0, 31.5, 113.5, 114.5};
  gybl.settings.flags.useWorkAreas = 0;
  Feed(8, GgaAt(30.2, 114.0));
  EXPECT_EQ(Sent(7) + Sent(8), "");
  EXPECT_EQ(gybl.clientTable.at(7).roveFlagA + gybl.clientTable.at(8).roveFlagA, 0);
}

TEST_F(DataDispatchTest, NearestBaseWithHysteresis) {
  gybl.settings.flags.movingBase = 1;
  ClientEntry& rover = Add(10, "rover", "NTRIP", 3);
  rover.position = {30.0, 114.0, 0.0};
  Base(5, "A", 3, 30.0 + 1000 * kMetre, 114.0);
  Base(6, "B", 3, 30.0 - 900 * kMetre, 114.0);
  ASSERT_EQ(LinkToBase(gybl.clientTable, "A", 10), 1);
  EXPECT_NEAR(BaseDistance(rover.position, gybl.clientTable.at(5).position), 1000.0, 1e-6);

  EXPECT_EQ(ChooseNearestBase(gybl.clientTable, gybl.settings.flags, 10), 1);
  EXPECT_EQ(Links(10), std::vector<uint32_t>{5});  // 900 x 1.2 = 1080 is not below 1000
  gybl.clientTable.at(6).position[0] = 30.0 - 800 * kMetre;
  ChooseNearestBase(gybl.clientTable, gybl.settings.flags, 10);
  EXPECT_EQ(Links(10), std::vector<uint32_t>{6});  // 960 < 1000
  EXPECT_TRUE(gybl.clientTable.at(5).links.empty());
  EXPECT_EQ(gybl.clientTable.at(6).links.at(10), "rover");
  EXPECT_EQ(gybl.clientTable.at(10).links.at(6), "B");

  // A base that no longer takes part counts as no base: any nearest one wins, even a farther one.
  gybl.clientTable.at(6).agent = "KavroNet link";
  ChooseNearestBase(gybl.clientTable, gybl.settings.flags, 10);
  EXPECT_EQ(Links(10), std::vector<uint32_t>{5});
  EXPECT_TRUE(gybl.clientTable.at(6).links.empty());
  // Network bases take part under fixedBase, the others under movingBase.
  gybl.settings.flags = {};
  gybl.settings.flags.fixedBase = 1;
  ChooseNearestBase(gybl.clientTable, gybl.settings.flags, 10);
  EXPECT_EQ(Links(10), std::vector<uint32_t>{6});
}

TEST_F(DataDispatchTest, FirstPositionAttachesToTheNearestBaseOfTheFormat) {
  gybl.settings.flags.movingBase = 1;
  Base(4, "MSM", 6, 30.0, 114.0);  // nearest, but of another format
  Base(5, "FAR", 3, 35.0, 114.0);
  Base(7, "TIE1", 3, 30.0, 114.25);
  Base(8, "TIE2", 3, 30.0, 113.75);
  Add(10, "rover", "NTRIP", 3);
  Feed(10, NmeaSentence("GPGGA,1,0000.0,N,11400.0,E,4,08,,1.0,,,,"));  // latitude 0: no position
  EXPECT_TRUE(gybl.clientTable.at(10).links.empty());
  EXPECT_EQ(gybl.clientTable.at(10).roveFlagB, 0);
  Feed(10, GgaAt(30.0, 114.0));
  EXPECT_EQ(Links(10), std::vector<uint32_t>{7});  // equal distances: the lower socket
  EXPECT_EQ(gybl.clientTable.at(10).roveFlagB, 1);

  // The new base's next chunk reaches the rover unchanged.
  const std::string chunk("\xd3\x00\x01\xff\x00\x00\x00", 7);
  Feed(8, chunk);
  Feed(7, chunk + "7");
  EXPECT_EQ(Sent(10), chunk + "7");
}

TEST_F(DataDispatchTest, GgaSentWithTheRequestAttachesTheRoverAtOnce) {
  gybl.settings.flags.movingBase = 1;
  Base(7, "RTK1", 3, 30.0, 114.0);
  gybl.Accept(10, sockaddr_in{});
  RequestClassifier classifier(gybl.clientTable, handlers);
  const std::string request = "GET /[RTCM30] HTTP/1.0\r\nAuthorization: Basic " + EncodeBase64("rover:pw") +
                              "\r\n\r\n" + GgaAt(30.0, 114.0);
  ASSERT_EQ(classifier.Receive(10, static_cast<uint32_t>(request.size()),
                               reinterpret_cast<const uint8_t*>(request.data())),
            1);
  EXPECT_EQ(Links(10), std::vector<uint32_t>{7});
  sends.sent.clear();
  const std::string chunk("\xd3\x00\x01\xff\x00\x00\x00", 7);
  Feed(7, chunk);
  EXPECT_EQ(Sent(10), chunk);
}

TEST_F(DataDispatchTest, PositionEventsAndTrack) {
  gybl.settings.flags.writeKml = 1;
  Add(6, "rover6", "NTRIP", 0);
  Feed(6, GgaAt(-33.5, -70.25, 570.0));
  const ClientEntry& rover = gybl.clientTable.at(6);
  EXPECT_EQ(rover.position, (std::array<double, 3>{-33.5, -70.25, 570.0}));
  ASSERT_EQ(monitor.calls.size(), 1u);
  EXPECT_TRUE(monitor.calls[0].message == 1529 && monitor.calls[0].code == 0 &&
              monitor.calls[0].entry == &rover);
  EXPECT_NE(FileText(directory / "KML" / "20150202.kml").find("<name>rover6</name>"), std::string::npos);
}

TEST_F(DataDispatchTest, RoverBytesReachItsBaseAsReceived) {
  gybl.settings.flags.pushToSubscribers = 1;
  gybl.settings.flags.useWorkAreas = 1;
  Base(5, "RTK1", 3, 30.0, 114.0);
  ClientEntry& rover = Add(6, "rover6", "NTRIP", 0);
  rover.areaBounds = {31.0, 31.5, 113.5, 114.5};
  rover.echoMode = 1;
  ASSERT_EQ(LinkToBase(gybl.clientTable, "RTK1", 6), 1);
  // The fence's text to the rover goes out while the chunk is being handled.
  const std::string chunk = GgaAt(30.2, 114.0) + "$GPGSA,rest";
  Feed(6, chunk);
  EXPECT_EQ(Sent(6), chunk + "VORAN,OUTDIST,\r\n");
  EXPECT_EQ(Sent(5), chunk);
  Feed(6, "no position");
  EXPECT_EQ(Sent(5), chunk + "no position");
  gybl.settings.flags.pushToSubscribers = 0;
  Feed(6, "kept");
  EXPECT_EQ(Sent(5), chunk + "no position");
}

TEST_F(DataDispatchTest, ForwardedRoverSendsItsPositionChunksUpstream) {
  boost::asio::io_context io;
  LoopbackServer upstream;
  auto client = std::make_shared<CKavroNetClient>(io.get_executor());
  int connected = -1;
  client->Connect("127.0.0.1", upstream.port(), [&](int result) { connected = result; });
  ASSERT_TRUE(RunUntil(io, [&] { return connected != -1; }));
  ASSERT_EQ(connected, 1);
  const int far = upstream.Accept(io);
  ASSERT_GE(far, 0);

  ClientEntry& rover = Add(6, "rover6", "NTRIP", 9);
  rover.netClient = client;
  const std::string first = GgaAt(30.2, 114.0);
  const std::string second = GgaAt(30.3, 114.0);
  Feed(6, first);
  Feed(6, "no position here");
  Feed(6, second);
  std::string received;
  EXPECT_TRUE(RunUntil(io, [&] {
    ReadAvailable(far, received);
    return received.size() >= first.size() + second.size();
  }));
  EXPECT_EQ(received, first + second);
  rover.netClient.reset();
  client->Close();
}

TEST(RecordFileTest, NamesThatNeverBecomeFiles) {
  for (const char* name : {"rover12345", "张三的接收机", "a.b"}) EXPECT_TRUE(RecordFileNameOk(name)) << name;
  for (const char* name :
       {"", ".hidden12345", "../../../tmp/x", "a/b", "a\\bcdefghi",
        "abc\x01"
        "defgh",
        "abc\x7f"
        "defgh",
        "USER.NAME", "Kavro202.db", "Kavro202.db-wal", "KavroMapSet.db", "QQwry.dat", "KavroServer"}) {
    EXPECT_FALSE(RecordFileNameOk(name)) << name;
  }
}

TEST_F(DataDispatchTest, RecordsOnlyLongSafeNames) {
  gybl.settings.flags.recordToBase = 1;
  gybl.settings.flags.recordToProgramDirectory = 1;
  Base(5, "BASE12345", 5, 0, 0);
  Base(6, "BASE1234", 5, 0, 0);
  Add(7, "rover1234", "NTRIP", 0);
  Add(8, "rover123", "NTRIP", 0);
  Add(9, "USER.NAME", "NTRIP", 0);
  Add(11, "../escaped", "BASE", 5);
  const std::string chunk("\x00\x01\r\n\xff", 5);
  for (uint32_t socket : {5u, 6u, 7u, 8u, 9u, 11u}) {
    Feed(socket, chunk);
    Feed(socket, chunk);
  }
  EXPECT_EQ(FileText(directory / "BASE" / "BASE12345"), chunk + chunk);
  EXPECT_EQ(FileText(directory / "rover1234"), chunk + chunk);
  EXPECT_FALSE(fs::exists(directory / "BASE" / "BASE1234"));
  EXPECT_FALSE(fs::exists(directory / "rover123"));
  EXPECT_FALSE(fs::exists(directory / "USER.NAME"));
  EXPECT_FALSE(fs::exists(directory / "escaped"));
  gybl.settings.flags.recordToBase = 0;
  Feed(5, chunk);
  EXPECT_EQ(FileText(directory / "BASE" / "BASE12345").size(), 10u);
}

// A record or KML file that cannot be written gives one red line per file and day; the chunks are
// still relayed. The directories are regular files, so nothing can be created even as root.
TEST_F(DataDispatchTest, UnwritableFilesGiveOneRedLinePerFileAndDay) {
  gybl.settings.flags.recordToBase = 1;
  gybl.settings.flags.recordToProgramDirectory = 1;
  gybl.settings.flags.writeKml = 1;
  for (const char* sub : {"BASE", "KML"}) {
    fs::remove_all(directory / sub);
    std::ofstream(directory / sub) << "x";
  }
  Base(5, "BASE12345", 3, 30.2, 114.0);
  Add(6, "rover1234", "NTRIP", 0);
  ASSERT_EQ(LinkToBase(gybl.clientTable, "BASE12345", 6), 1);
  const std::string chunk("\xd3\x00\x01\xff\x00\x00\x00", 7);
  const auto day = [&] {
    for (int i = 0; i < 2; ++i) {
      Feed(5, chunk);
      Feed(6, GgaAt(30.2, 114.0));
    }
  };
  const auto redLines = [&] {
    std::vector<std::string> texts;
    for (const LogRecord& line : monitor.lines) {
      if (line.level == kLogRed) texts.push_back(line.text);
    }
    return texts;
  };
  day();
  // The rover's own record file is writable; a success does not hide the others' failures.
  EXPECT_EQ(redLines(), (std::vector<std::string>{"Record write failed BASE/BASE12345",
                                                  "KML write failed KML/20150202.kml"}));
  EXPECT_EQ(Sent(6), chunk + chunk);
  EXPECT_EQ(FileText(directory / "rover1234").size(), 2 * GgaAt(30.2, 114.0).size());

  monitor.lines.clear();
  clock.Set({2015, 2, 2, 3, 0, 0, 1, 0});
  day();
  EXPECT_EQ(redLines(), (std::vector<std::string>{"Record write failed BASE/BASE12345",
                                                  "KML write failed KML/20150203.kml"}));
}

}  // namespace
