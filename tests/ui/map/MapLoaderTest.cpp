#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/FrameView.h"
#include "ui/map/MapLoader.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

template <typename T>
std::string Bytes(T value) {
  std::string raw(sizeof value, '\0');
  std::memcpy(raw.data(), &value, sizeof value);
  return raw;
}

// A map file with one rectangle under the given header, then the end record.
std::string MapFile(const std::string& header) {
  std::string record = Text("r") + Bytes<int32_t>(1) + std::string(16, '\0') + std::string(24, '\0') +
                       Bytes<int32_t>(0) + Bytes<int32_t>(0);
  for (double v : {116.0, 39.0, 116.1, 39.1}) record += Bytes(v);
  const std::string end = Text("") + Bytes<int32_t>(-1) + std::string(16 + 24 + 8, '\0');
  return Text(header) + record + end;
}

class MapLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kavro-map-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "MAP");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string Directory() const { return dir_.string() + "/"; }

  fs::path dir_;
};

TEST_F(MapLoaderTest, BadFilesLoadNothingAndTheNextEntryIsRead) {
  Write("MAP/good.map", MapFile("VoranSurvey Map Ver:1.0"));
  Write("MAP/other.map", MapFile("Some other format"));
  Write("MAP/photo.png", "\x89PNG....");
  Write("MAP/photo.tif", "II*");
  const std::vector<MapDataEntry> entries = {
      {"Roads", "MAP\\missing.map", 0, 0, 0, 0, 1},   {"Roads", "MAP\\other.map", 0, 0, 0, 0, 1},
      {"Roads", "MAP\\good.map", 0, 0, 0, 0, 1},      {"Photo", "MAP/photo.png", 116, 39, 117, 40, 0},
      {"Tiff", "MAP/photo.tif", 116, 39, 117, 40, 0}, {"Nowhere", "MAP/good.map", 0, 0, 0, 0, 1}};
  std::vector<std::tuple<int, int, std::string>> progress;
  const std::vector<LoadedMap> maps = LoadMapEntries(
      Directory(), entries, {"Roads"},
      [&](int code, int value, const std::string& text) { progress.emplace_back(code, value, text); });
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(maps[0].layerName, "Roads");
  ASSERT_EQ(maps[0].objects.size(), 1u);
  EXPECT_EQ(maps[0].objects[0].points.back(), (MapPoint{116.1, 39.1}));
  EXPECT_TRUE(maps[1].picture);
  EXPECT_EQ(maps[1].mime, "image/png");
  EXPECT_EQ(maps[1].bytes, "\x89PNG....");
  EXPECT_EQ(maps[1].corner2, (MapPoint{117, 40}));
  EXPECT_EQ(maps[2].layerName, "Nowhere");  // read through, nothing created
  EXPECT_TRUE(maps[2].objects.empty());

  ASSERT_GE(progress.size(), 4u);
  EXPECT_EQ(progress.front(), std::make_tuple(ProgressBar::kSetRange, 100, std::string()));
  EXPECT_EQ(progress[1], std::make_tuple(ProgressBar::kPaneText, 0, std::string("Read Map Roads")));
  EXPECT_EQ(progress[progress.size() - 2], std::make_tuple(ProgressBar::kPaneText, 0, std::string()));
  EXPECT_EQ(std::get<0>(progress.back()), ProgressBar::kHide);
  // The bar never goes past its range: offset plus move stays within 100.
  int offset = 0;
  for (const auto& [code, value, text] : progress) {
    if (code == ProgressBar::kSetOffset) offset = value;
    if (code == ProgressBar::kMove) {
      EXPECT_LE(offset + value, 100);
    }
  }
}

TEST(MapFilePathTest, JoinsTheProgramDirectoryAndPictureTypes) {
  EXPECT_EQ(MapFilePath("/srv/kavro/", "MAP\\city.map"), "/srv/kavro/MAP/city.map");
  EXPECT_EQ(PictureType("a/B.JPG"), "image/jpeg");
  EXPECT_EQ(PictureType("a.bmp"), "image/bmp");
  EXPECT_EQ(PictureType("a.tif"), "");
  EXPECT_EQ(PictureType("noextension"), "");
}

}  // namespace
