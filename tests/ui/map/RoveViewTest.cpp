#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ClientEntry.h"
#include "core/Messages.h"
#include "ui/map/MapSymbols.h"
#include "ui/map/RoveView.h"

namespace {

constexpr int kMapBase = 6;

ClientEntry Client(const std::string& name, double latitude, double longitude) {
  ClientEntry entry;
  entry.userName = name;
  entry.position = {latitude, longitude, 50.0};
  return entry;
}

// A loaded view with no background maps and the Disp_num given.
struct LoadedView {
  explicit LoadedView(int dispNum = 1000) : dispNum(dispNum) {
    view.SetSources({[this] { return this->dispNum; }, [this] { return linked; }});
    view.Initialise({});
    view.AddLoadedMaps({});
    view.TakeChanges();
  }
  size_t Count(const char* layer) const { return view.map().layers()[view.map().Find(layer)].objects.size(); }
  const CMapObject& Only(const char* layer) const {
    return view.map().layers()[view.map().Find(layer)].objects.begin()->second;
  }
  int dispNum;
  std::vector<LinkedBase> linked;
  RoveView view;
};

struct SymbolCase {
  int fixQuality;
  int roveFlagA;
  int expected;
};

class RoverSymbolTest : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(RoverSymbolTest, KindIsFixQualityPlusTwoOrTwelveOutside) {
  ClientEntry rover = Client("r", 39.0, 116.0);
  rover.fixQuality = GetParam().fixQuality;
  rover.roveFlagA = GetParam().roveFlagA;
  EXPECT_EQ(RoverSymbol(rover), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoverSymbolTest,
                         ::testing::Values(SymbolCase{0, 0, 2}, SymbolCase{1, 0, 3}, SymbolCase{2, 0, 4},
                                           SymbolCase{3, 0, 5}, SymbolCase{3, 1, 12}, SymbolCase{0, 1, 12}));

TEST(BaseSymbolTest, AgentsOfAtLeastEightCharactersPickTheKind) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 0},        {"CORS", 0},     {"CORS-Ref", 8},     {"CORS Station 2", 8},
      {"KavroNe", 0}, {"KavroNet", 9}, {"KavroNet/2.1", 9}, {"NTRIP RTKLIB/2.4", 0},
  };
  for (const auto& [agent, kind] : cases) EXPECT_EQ(BaseSymbol(agent), kind) << agent;
}

TEST(RoveViewTest, LayersOfTheMapSetComeFirstOncePerNameThenTheBuiltInOnes) {
  RoveView view;
  view.Initialise({{"Roads", -1, 0, -1, 1, 0.01, 0.0},
                   {"", 1, 1, 1, 1, 0.0, 0.0},
                   {"Rivers", 1, 1, 0, 0, 0.0, 0.001},
                   {"Roads", 0, 0, 0, 0, 0.0, 0.0},
                   {"BASE", 0, 0, 0, 0, 0.0, 0.0}});
  std::vector<std::string> names;
  for (const CMapLayer& layer : view.map().layers()) names.push_back(layer.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Roads", "Rivers", "BASE", "ROVE", "ROVEOLD", "BASEOLD",
                                             "Kavro_Base", "Scope"}));
  const CMapLayer& roads = view.map().layers()[0];
  EXPECT_TRUE(roads.display && !roads.select && roads.label && roads.edit);  // absolute values
  EXPECT_FALSE(view.map().layers()[2].display);  // BASE as the file set it, not created again
  EXPECT_FALSE(view.map().layers()[view.map().Find("ROVEOLD")].label);
  EXPECT_FALSE(view.map().layers()[view.map().Find("BASEOLD")].label);
  EXPECT_TRUE(view.map().layers()[view.map().Find("ROVE")].label);
}

TEST(RoveViewTest, ALayerIsDrawnOnlyWithinItsScaleRange) {
  CMapLayer layer;
  layer.maxDisp = 0.01;
  layer.minDisp = 0.0001;
  const std::vector<std::tuple<double, double, bool>> cases = {{0.001, 0.001, true},
                                                               {0.01, 0.0001, true},
                                                               {0.02, 0.001, false},
                                                               {0.001, 0.00005, false},
                                                               {0.0, 0.0, false}};
  for (const auto& [x, y, drawn] : cases) EXPECT_EQ(DrawMap::Drawn(layer, x, y), drawn) << x << " " << y;
  CMapLayer unlimited;
  EXPECT_TRUE(DrawMap::Drawn(unlimited, 1000.0, 1e-9));
  unlimited.display = false;
  EXPECT_FALSE(DrawMap::Drawn(unlimited, 1.0, 1.0));
}

TEST(RoveViewTest, MessagesBeforeTheMapsAreLoadedAreDropped) {
  RoveView view;
  view.Initialise({});
  const ClientEntry rover = Client("r1", 39.0, 116.0);
  view.OnMap(kMapRoverPosition, &rover);
  EXPECT_TRUE(view.map().layers()[view.map().Find("ROVE")].objects.empty());
  view.AddLoadedMaps({});
  view.OnMap(kMapRoverPosition, &rover);
  EXPECT_EQ(view.map().layers()[view.map().Find("ROVE")].objects.size(), 1u);
}

TEST(RoveViewTest, AMovingRoverLeavesATrailAndFollowShowsItsBox) {
  LoadedView v;
  ClientEntry rover = Client("r1", 39.123456789, 116.5);
  rover.fixQuality = 3;
  v.view.OnMap(kMapRoverPosition, &rover);
  rover.position = {39.2, 116.7, 0.0};
  rover.fixQuality = 2;
  v.view.OnMap(kMapRoverPosition, &rover);
  EXPECT_EQ(v.Count("ROVE"), 1u);
  EXPECT_EQ(v.Only("ROVE").points.front(), (MapPoint{116.7, 39.2}));
  EXPECT_EQ(v.Only("ROVE").symbol, 4);  // float
  EXPECT_EQ(v.Only("ROVE").colour, 255);
  ASSERT_EQ(v.Count("ROVEOLD"), 1u);
  EXPECT_NEAR(v.Only("ROVEOLD").points.front().y, 39.1234568, 1e-12);  // rounded to 1e-7 degrees
  RoveView::Changes changes = v.view.TakeChanges();
  ASSERT_TRUE(changes.view.has_value());
  EXPECT_NEAR(changes.view->minY, 39.1234568, 1e-12);
  EXPECT_EQ(changes.view->maxX, 116.7);
  EXPECT_EQ(changes.objects.size(), 2u);  // the rover and one trail point

  v.view.SetFollow(false);
  rover.position = {39.3, 116.8, 0.0};
  v.view.OnMap(kMapRoverPosition, &rover);
  changes = v.view.TakeChanges();
  EXPECT_FALSE(changes.view.has_value());
  EXPECT_TRUE(changes.followChanged);
  v.view.SetFollow(true);  // back on: the view goes to the box at once
  EXPECT_TRUE(v.view.TakeChanges().view.has_value());
}

TEST(RoveViewTest, TheTrailIsEmptiedPastDispNumAndTheBoxReset) {
  LoadedView v(3);
  ClientEntry rover = Client("r1", 39.0, 116.0);
  for (int i = 0; i <= 4; ++i) {
    rover.position[1] = 116.0 + i * 0.01;
    v.view.OnMap(kMapRoverPosition, &rover);
  }
  EXPECT_EQ(v.Count("ROVEOLD"), 4u);  // emptied only when a message finds more than 3
  v.view.TakeChanges();
  rover.position[1] = 116.5;
  v.view.OnMap(kMapRoverPosition, &rover);
  EXPECT_EQ(v.Count("ROVEOLD"), 1u);         // emptied, then the previous position added
  EXPECT_EQ(v.view.roverBox().minX, 116.5);  // the box restarted at the new position
  const RoveView::Changes changes = v.view.TakeChanges();
  EXPECT_EQ(changes.cleared, (std::vector<size_t>{v.view.map().Find("ROVEOLD")}));
}

TEST(RoveViewTest, BasesMoveAndTurnIntoGoneBasesWhenTheyClose) {
  LoadedView v;
  ClientEntry base = Client("base1", 39.0, 116.0);
  base.agent = "CORS-Ref station";
  v.view.OnMap(kMapBase, &base);
  base.position = {39.5, 116.5, 0.0};
  v.view.OnMap(kMapBase, &base);
  ASSERT_EQ(v.Count("BASE"), 1u);
  EXPECT_EQ(v.Only("BASE").symbol, 8);
  EXPECT_EQ(v.Only("BASE").points.front(), (MapPoint{116.5, 39.5}));
  const int id = v.Only("BASE").id;
  v.view.TakeChanges();

  ClientEntry rover = Client("rover", 39.0, 116.0);
  v.view.OnMap(kMapEntryClosed, &rover);  // not a base: nothing
  v.view.OnMap(kMapEntryClosed, &base);
  EXPECT_EQ(v.Count("BASE"), 0u);
  ASSERT_EQ(v.Count("BASEOLD"), 1u);
  EXPECT_EQ(v.Only("BASEOLD").symbol, 1);
  const RoveView::Changes changes = v.view.TakeChanges();
  ASSERT_EQ(changes.objects.size(), 1u);
  EXPECT_EQ(changes.objects[0].first, v.view.map().Find("BASEOLD"));
  EXPECT_EQ(changes.objects[0].second->id, id);
  v.view.OnMap(kMapBase, &base);  // back again: a new object in BASE
  EXPECT_EQ(v.Count("BASE"), 1u);
}

TEST(RoveViewTest, BaseLayersAreTrimmed) {
  LoadedView v(2);
  for (int i = 0; i < 3; ++i) {
    ClientEntry base = Client("b" + std::to_string(i), 39.0, 116.0 + i);
    v.view.OnMap(kMapBase, &base);
  }
  EXPECT_EQ(v.Count("BASE"), 3u);
  ClientEntry next = Client("b9", 39.0, 117.0);
  v.view.OnMap(kMapBase, &next);
  EXPECT_EQ(v.Count("BASE"), 1u);  // more than Disp_num: emptied before b9 came

  LoadedView gone(1000);
  for (int i = 0; i < 201; ++i) {
    ClientEntry base = Client("g" + std::to_string(i), 39.0, 116.0);
    gone.view.OnMap(kMapBase, &base);
    gone.view.OnMap(kMapEntryClosed, &base);
  }
  EXPECT_EQ(gone.Count("BASEOLD"), 201u);
  gone.view.OnMap(kMapServiceStopped, nullptr);
  EXPECT_EQ(gone.Count("BASEOLD"), 0u);  // 201 or more: emptied
}

TEST(RoveViewTest, LinkedBasesLocateAndWorkAreas) {
  LoadedView v;
  v.linked = {{"Net1", 30.5, 114.25, false}, {"Net2", 31.0, 115.0, true}};
  v.view.OnMap(kMapUpstreamStatus, nullptr);
  EXPECT_EQ(v.Count("Kavro_Base"), 2u);
  EXPECT_EQ(v.Only("Kavro_Base").points.front(), (MapPoint{114.25, 30.5}));
  v.view.OnMap(kMapServiceStopped, nullptr);
  EXPECT_EQ(v.Count("Kavro_Base"), 0u);

  const ClientEntry rover = Client("r", 39.5, 116.25);
  v.view.OnMap(kMapLocate, &rover);
  v.view.OnMap(14, &rover);  // 14 and above: nothing
  const RoveView::Changes changes = v.view.TakeChanges();
  ASSERT_TRUE(changes.locate.has_value());
  EXPECT_EQ(changes.locate->centre, (MapPoint{116.25, 39.5}));
  EXPECT_EQ(changes.locate->scale, 0.0002);
  EXPECT_EQ(v.Count("ROVE"), 0u);

  v.view.SetWorkAreas({{"North", 39.0, 40.0, 116.0, 117.0}, {"Empty", 0.0, 0.0, 0.0, 0.0}});
  ASSERT_EQ(v.Count("Scope"), 1u);
  EXPECT_EQ(v.Only("Scope").points, (std::vector<MapPoint>{{116.0, 39.0}, {117.0, 40.0}}));
}

TEST(RoveViewTest, LoadedMapsGoToTheirLayersAndPicturesGetTheirOwn) {
  RoveView view;
  view.Initialise({{"Roads", 1, 1, 1, 1, 0.0, 0.0}});
  LoadedMap roads;
  roads.layerName = "Roads";
  roads.objects.resize(2);
  LoadedMap stray;
  stray.layerName = "Nowhere";
  stray.objects.resize(1);
  LoadedMap photo;
  photo.layerName = "Photo";
  photo.picture = true;
  photo.corner1 = {116.0, 39.0};
  photo.corner2 = {116.1, 39.1};
  photo.mime = "image/png";
  photo.bytes = "PNG";
  view.AddLoadedMaps({roads, stray, photo});
  EXPECT_TRUE(view.mapsLoaded());
  EXPECT_EQ(view.map().layers()[0].objects.size(), 2u);
  EXPECT_EQ(view.map().Find("Nowhere"), DrawMap::npos);
  const size_t layer = view.map().Find("Photo");
  ASSERT_EQ(layer, view.map().layers().size() - 1);
  const CMapObject& picture = view.map().layers()[layer].objects.begin()->second;
  ASSERT_NE(view.Picture(picture.id), nullptr);
  EXPECT_EQ(view.Picture(picture.id)->bytes, "PNG");
}

}  // namespace
