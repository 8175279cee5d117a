// The map view of the real caster binary: the map set's files are loaded in the background at start
// and served to the page, a damaged file among them loading nothing.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "db/LocalSchema.h"
#include "db/LocalStore.h"
#include "support/CasterProcess.h"
#include "support/HttpClient.h"

namespace {

namespace http = boost::beast::http;
namespace json = boost::json;

std::string Text(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

template <typename T>
std::string Bytes(T value) {
  std::string raw(sizeof value, '\0');
  std::memcpy(raw.data(), &value, sizeof value);
  return raw;
}

// A map file holding one rectangle.
std::string RectangleFile(const std::string& header) {
  std::string file = Text(header) + Text("field") + Bytes<int32_t>(1) + std::string(16 + 24, '\0') +
                     Bytes<int32_t>(0) + Bytes<int32_t>(0);
  for (double v : {116.0, 39.0, 116.1, 39.1}) file += Bytes(v);
  return file + Text("") + Bytes<int32_t>(-1) + std::string(16 + 24 + 8, '\0');
}

json::object Get(int port, const std::string& target) {
  const auto response = testsupport::HttpRequest(port, http::verb::get, target.c_str(), {});
  EXPECT_EQ(response.result(), http::status::ok) << target;
  return json::parse(response.body()).as_object();
}

TEST(MapBinaryTest, LoadsTheMapSetInTheBackgroundAndServesIt) {
  testsupport::CasterProcess caster;
  const auto dir = caster.directory();
  std::filesystem::create_directories(dir / "MAP");
  std::ofstream(dir / "MAP" / "good.map", std::ios::binary) << RectangleFile("VoranSurvey Map Ver:3");
  std::ofstream(dir / "MAP" / "bad.map", std::ios::binary) << RectangleFile("Not a map");
  std::ofstream(dir / "MAP" / "photo.png", std::ios::binary) << "\x89PNG\r\n";
  {
    LocalStore store;
    ASSERT_EQ(store.Open((dir / "KavroMapSet.db").string()), 1);
    ASSERT_EQ(CreateMapSetTables(store.connection()), 1);
    for (const char* sql :
         {"INSERT INTO LayerSet VALUES('Roads', 1, 1, 1, 1, 0, 0)",
          "INSERT INTO MapData VALUES('Roads', 'MAP\\missing.map', 0, 0, 0, 0, 1)",
          "INSERT INTO MapData VALUES('Roads', 'MAP\\bad.map', 0, 0, 0, 0, 1)",
          "INSERT INTO MapData VALUES('Roads', 'MAP\\good.map', 0, 0, 0, 0, 1)",
          "INSERT INTO MapData VALUES('Photo', 'MAP/photo.png', 116.5, 39.5, 116.6, 39.6, 0)"}) {
      ASSERT_EQ(store.Execute(sql), 1) << sql;
    }
  }
  ASSERT_TRUE(caster.Start());
  const int port = caster.monitorPort();
  ASSERT_TRUE(caster.WaitForLine(
      [](const std::string& line) { return line.find("Monitor http") != std::string::npos; }));

  // The loading thread hands its result to the main thread; the state says when it arrived.
  json::object map;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    map = Get(port, "/api/map/state");
    if (map.at("loaded").as_bool()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_TRUE(map.at("loaded").as_bool());

  const json::array& layers = map.at("layers").as_array();
  ASSERT_EQ(layers.size(), 8u);  // Roads, the six built-in layers, Photo
  EXPECT_EQ(layers[0].at("name").as_string(), "Roads");
  EXPECT_EQ(layers[0].at("count").as_int64(), 1);  // the good file only
  EXPECT_EQ(layers[7].at("name").as_string(), "Photo");
  const json::array roads = Get(port, "/api/map/objects?layer=0").at("objects").as_array();
  ASSERT_EQ(roads.size(), 1u);
  EXPECT_EQ(roads[0].at("points").as_array()[1].as_array()[0].to_number<double>(), 116.1);
  const json::array photo = Get(port, "/api/map/objects?layer=7").at("objects").as_array();
  ASSERT_EQ(photo.size(), 1u);
  const json::object picture =
      Get(port, "/api/map/picture?id=" + std::to_string(photo[0].at("id").as_int64()));
  EXPECT_EQ(picture.at("mime").as_string(), "image/png");
  EXPECT_EQ(picture.at("data").as_string(), "iVBORw0K");  // base64 of the six bytes

  // The status bar went through "Read Map <layer>" and ends hidden and empty.
  const json::object progress = Get(port, "/api/state").at("progress").as_object();
  EXPECT_EQ(progress.at("visible").as_bool(), false);
  EXPECT_EQ(progress.at("pane").as_string(), "");
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
