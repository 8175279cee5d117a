#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/LocalSchema.h"
#include "db/LocalStore.h"
#include "ui/map/MapSetTables.h"

namespace {

namespace fs = std::filesystem;

TEST(MapSetTablesTest, RowsComeInTableOrderAndAnUnreadableTableGivesTheRedLine) {
  const fs::path file = fs::temp_directory_path() / ("kavro-mapset-" + std::to_string(::getpid()) + ".db");
  std::vector<std::string> red;
  const auto redLine = [&](const std::string& text) { red.push_back(text); };
  {
    LocalStore store;
    ASSERT_EQ(store.Open(file.string()), 1);
    EXPECT_TRUE(ReadLayerSet(store, redLine).empty());  // no tables yet
    EXPECT_TRUE(ReadMapData(store, redLine).empty());
    EXPECT_EQ(red, (std::vector<std::string>{"LayerSet Fail", "Mapdata open Fail"}));
    red.clear();

    ASSERT_EQ(CreateMapSetTables(store.connection()), 1);
    for (const char* sql :
         {"INSERT INTO LayerSet VALUES('Roads', -1, 0, 1, 0, 0.01, 0.0)",
          "INSERT INTO LayerSet VALUES('Area', 65535, 1, 1, 1, NULL, NULL)",
          "INSERT INTO MapData VALUES('Roads', 'MAP\\roads.map', 116, 39, 117, 40, 1)",
          "INSERT INTO MapData VALUES('Photo', 'MAP/photo.png', 116.5, 39.5, 116.6, 39.6, 0)"}) {
      ASSERT_EQ(store.Execute(sql), 1) << sql;
    }
    const std::vector<LayerSetRow> layers = ReadLayerSet(store, redLine);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].name, "Roads");
    EXPECT_EQ(layers[0].display, -1);
    EXPECT_EQ(layers[0].maxDisp, 0.01);
    EXPECT_EQ(layers[1].display, -1);  // read as a 16-bit value
    EXPECT_EQ(layers[1].maxDisp, 0.0);
    const std::vector<MapDataEntry> entries = ReadMapData(store, redLine);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].fileName, "MAP\\roads.map");
    EXPECT_EQ(entries[0].dataType, 1);
    EXPECT_EQ(entries[1].layerName, "Photo");
    EXPECT_EQ(entries[1].y2, 39.6);
    EXPECT_TRUE(red.empty());
  }
  fs::remove(file);
}

}  // namespace
