#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/ClientEntry.h"
#include "core/Messages.h"
#include "ui/map/LibraryFiles.h"
#include "ui/map/MapMonitor.h"

namespace {

namespace fs = std::filesystem;

TEST(MapMonitorTest, RequestsSwitchLayersFollowAndTellTheDrawnLayers) {
  MapMonitor map;
  map.view().Initialise({{"Roads", 1, 1, 1, 1, 0.01, 0.0}});
  map.view().AddLoadedMaps({});
  map.TakeMessage();
  const struct {
    const char* method;
    const char* target;
    const char* body;
    int status;
    const char* contains;
  } cases[] = {
      {"POST", "view", R"({"scale":0.001})", 200, R"("drawn":[0,1,2,3,4,5,6])"},
      {"POST", "view", R"({"scale":0.1})", 200, R"("drawn":[1,2,3,4,5,6])"},  // Roads past its MAXDISP
      {"POST", "view", R"({"scale":"x"})", 400, "scale"},
      {"POST", "layer", R"({"index":1,"display":false})", 200, R"("name":"ROVE","display":false)"},
      {"POST", "layer", R"({"index":99,"display":false})", 404, "no such layer"},
      {"POST", "layer", R"({"index":1,"display":1})", 400, "true or false"},
      {"POST", "follow", R"({"on":false})", 200, R"({"follow":false})"},
      {"POST", "follow", "not json", 400, "object"},
      {"GET", "objects?layer=0", "", 200, R"("objects":[])"},
      {"GET", "objects?layer=-1", "", 404, "no such layer"},
      {"GET", "picture?id=1", "", 404, "no such picture"},
      {"DELETE", "follow", "", 405, "method"},
  };
  for (const auto& c : cases) {
    const SettingsAnswer answer = map.Request(c.method, c.target, c.body);
    EXPECT_EQ(answer.status, c.status) << c.target << " " << c.body;
    EXPECT_NE(answer.body.find(c.contains), std::string::npos) << answer.body;
  }
  EXPECT_FALSE(map.view().followRovers());
  const std::string message = map.TakeMessage();
  EXPECT_NE(message.find(R"("type":"map")"), std::string::npos);
  EXPECT_NE(message.find(R"("follow":false)"), std::string::npos);
  EXPECT_NE(message.find(R"("layers":)"), std::string::npos);
  EXPECT_EQ(map.TakeMessage(), "");  // nothing new
}

TEST(MapMonitorTest, ClientNamesReachTheEventAsValidText) {
  MapMonitor map;
  map.view().AddLoadedMaps({});
  map.TakeMessage();
  ClientEntry rover;
  rover.userName = "r\xff<b>";
  rover.position = {39.5, 116.25, 0.0};
  map.view().OnMap(kMapRoverPosition, &rover);
  const std::string message = map.TakeMessage();
  EXPECT_NE(message.find("\"text\":\"r\xEF\xBF\xBD<b>\""), std::string::npos) << message;
  EXPECT_NE(message.find(R"("points":[[1.1625E2,3.95E1]])"), std::string::npos) << message;
}

TEST(MapMonitorTest, TileOriginsAreHttpOriginsOnly) {
  EXPECT_EQ(TileOrigin("https://{s}.tiles.example.org/4326/{z}/{x}/{y}.png"), "https://*.tiles.example.org");
  EXPECT_EQ(TileOrigin("http://127.0.0.1:8080/t/{z}/{x}/{y}.png"), "http://127.0.0.1:8080");
  EXPECT_EQ(TileOrigin(""), "");
  EXPECT_EQ(TileOrigin("javascript:alert(1)"), "");
  EXPECT_EQ(TileOrigin("https://a.org;script-src *"), "");
  EXPECT_EQ(TileOrigin("https:///x"), "");
}

TEST(LibraryFilesTest, OnlyLeafletDistIsServed) {
  const fs::path root = fs::temp_directory_path() / ("kavro-lib-" + std::to_string(::getpid()));
  fs::create_directories(root / "web");
  fs::create_directories(root / "node_modules/leaflet/dist/images");
  std::ofstream(root / "web/index.html") << "page";
  std::ofstream(root / "node_modules/leaflet/dist/leaflet.css") << "css";
  std::ofstream(root / "node_modules/leaflet/package.json") << "{}";
  const std::string web = (root / "web").string();
  EXPECT_EQ(LibraryFilePath(web, "/lib/leaflet/leaflet.css"),
            fs::canonical(root / "node_modules/leaflet/dist/leaflet.css").string());
  for (const char* target :
       {"/lib/leaflet/../package.json", "/lib/leaflet/%2e%2e/package.json", "/lib/leaflet/",
        "/lib/leaflet/images", "/lib/other/x.js", "/lib/leaflet/missing.js"}) {
    EXPECT_EQ(LibraryFilePath(web, target), "") << target;
  }
  fs::remove_all(root);
}

}  // namespace
