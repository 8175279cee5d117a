#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

#include "core/ClientEntry.h"
#include "ui/GridModel.h"

namespace {

const LocalTime kNow{2015, 2, 0, 2, 12, 0, 0};

ClientEntry Entry() {
  ClientEntry entry;
  entry.socket = 7;
  entry.userName = "rover1";
  entry.clientType = "NTRIP";
  entry.agent = "NTRIP Tester/1.0";
  entry.areaName = "North";
  entry.formatState = 3;
  entry.ipLocation = "Beijing";
  entry.peerAddress.sin_addr.s_addr = htonl(0x0A010203);  // 10.1.2.3
  entry.connectTime = kNow;
  return entry;
}

TEST(GridModelTest, AddedRowShowsItsFirstCells) {
  ClientEntry entry = Entry();
  GridCells cells = AddedRowCells(entry);
  const GridCells expected = {
      "   7",  "rover1",           "NTRIP", "", "", "", "", "", "", "00:00", "", "", "3", "NTRIP Tester/1.0",
      "North", "10.1.2.3(Beijing)"};
  EXPECT_EQ(cells, expected);
  entry.userName = std::string(40, 'u');
  entry.agent = std::string(39, 'a');
  cells = AddedRowCells(entry);
  EXPECT_EQ(cells[1], "Error");
  EXPECT_EQ(cells[13], entry.agent);
}

struct UpdateCase {
  const char* name;
  std::function<void(ClientEntry&)> change;
  size_t column;  // 0-based
  const char* text;
  int icon;
};

TEST(GridModelTest, UpdatedRowTextsAndIcons) {
  MountList mounts;
  for (const char* name : {"UP0", "UP1"}) {
    mounts.push_back(std::make_unique<CMount>());
    mounts.back()->name = name;
  }
  const UpdateCase cases[] = {
      {"unlinked", [](ClientEntry&) {}, 3, "", 0},
      {"linked rover", [](ClientEntry& e) { e.links[9] = "B1"; }, 3, "B1 ", 2},
      {"linked base", [](ClientEntry& e) { e.clientType = "BASE", e.links[9] = "r1", e.links[10] = "r2"; }, 3,
       "r1 r2 ", 3},
      {"twelve links show eleven",
       [](ClientEntry& e) {
         for (uint32_t s = 10; s < 22; ++s) e.links[s] = "r" + std::to_string(s);
       },
       3, "r10 r11 r12 r13 r14 r15 r16 r17 r18 r19 r20 ", 2},
      {"upstream mountpoint", [](ClientEntry& e) { e.dataFormat = 12, e.links[9] = "x"; }, 3, "UP1", 4},
      {"upstream mountpoint unknown", [](ClientEntry& e) { e.dataFormat = 20; }, 3, "", 4},
      {"format", [](ClientEntry& e) { e.dataFormat = 3, e.dataFormatName = "RTCM30"; }, 2, "NTRIP-RTCM30", 0},
      {"slave", [](ClientEntry& e) { e.deviceParam = 1; }, 2, "NTRIP(Slave)", 0},
      {"position",
       [](ClientEntry& e) {
         e.position = {39.912, 116.404, 50};
       },
       4, "39.91-116.40", 0},
      {"out of area",
       [](ClientEntry& e) {
         e.position = {39.9, 116.4, 0}, e.roveFlagA = 1, e.links[9] = "B";
       },
       4, "39.90-116.40[Out]", 5},
      {"fix rate", [](ClientEntry& e) { e.ggaCounters = {45, 5, 0, 0, 0, 60}; }, 6, "75%", 0},
      {"no sentences", [](ClientEntry& e) { e.ggaCounters = {45, 0, 0, 0, 0, 0}; }, 6, "", 0},
      {"failing sends", [](ClientEntry& e) { e.sendErrors = 6; }, 7, "6", 5},
      {"five failed sends", [](ClientEntry& e) { e.sendErrors = 5; }, 7, "5", 0},
      {"idle one second", [](ClientEntry& e) { e.idleSeconds = 1; }, 8, "0", 0},
      {"idle", [](ClientEntry& e) { e.idleSeconds = 2; }, 8, "2", 0},
      {"online", [](ClientEntry& e) { e.connectTime = {2015, 2, 0, 2, 10, 58, 59}; }, 9, "01:01:01", 0},
      {"online a day", [](ClientEntry& e) { e.connectTime = {2015, 2, 0, 1, 11, 0, 0}; }, 9, "25:00:00", 0},
      {"received", [](ClientEntry& e) { e.bytesReceived = 2050; }, 10, "2(K)2", 0},
      {"frames", [](ClientEntry& e) { e.formatState = 12; }, 11, "12", 0},
      {"sent beyond 32 bits", [](ClientEntry& e) { e.bytesSent = 5'000'000'000; }, 12, "4882812(K)512", 0},
      {"address kept", [](ClientEntry& e) { e.ipLocation = "elsewhere"; }, 15, "10.1.2.3(Beijing)", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GridModel grid;
    grid.SetMounts(&mounts);
    ClientEntry entry = Entry();
    entry.position = {1, 2, 0};  // replaced or kept by the case
    ASSERT_TRUE(grid.Apply(GridModel::kAdd, entry, kNow));
    c.change(entry);
    entry.gridRefreshDue = 1;
    ASSERT_TRUE(grid.Apply(GridModel::kUpdate, entry, kNow));
    const GridRow& row = grid.rows().at(7);
    EXPECT_EQ(row.cells[c.column], c.text);
    EXPECT_EQ(row.icon, c.icon);
  }
}

TEST(GridModelTest, LongTextsAndUnsetPositionKeepTheirCells) {
  GridModel grid;
  ClientEntry entry = Entry();
  entry.position = {39.9, 116.4, 0};
  entry.statusText = "Fixed";
  grid.Apply(GridModel::kAdd, entry, kNow);
  entry.gridRefreshDue = 1;
  grid.Apply(GridModel::kUpdate, entry, kNow);

  entry.position = {0, 0, 0};
  entry.userName = std::string(40, 'n');
  entry.statusText = std::string(45, 's');
  entry.gridRefreshDue = 1;
  grid.Apply(GridModel::kUpdate, entry, kNow);
  const GridCells& cells = grid.rows().at(7).cells;
  EXPECT_EQ(cells[1], "rover1");
  EXPECT_EQ(cells[4], "39.90-116.40");
  EXPECT_EQ(cells[5], "Fixed");
}

TEST(GridModelTest, RowsRefreshAtMostOncePerTickAndBatch) {
  GridModel grid;
  ClientEntry entry = Entry();
  entry.gridRefreshDue = 1;
  // An update for a socket without a row adds the row.
  EXPECT_TRUE(grid.Apply(GridModel::kUpdate, entry, kNow));
  EXPECT_EQ(grid.rows().at(7).cells[9], "00:00");
  EXPECT_EQ(entry.gridRefreshDue, 0);

  const LocalTime later{2015, 2, 0, 2, 12, 0, 5};
  entry.bytesSent = 10;
  EXPECT_FALSE(grid.Apply(GridModel::kUpdate, entry, later));  // no tick since the last refresh
  EXPECT_EQ(grid.rows().at(7).cells[12], "3");
  entry.gridRefreshDue = 1;  // the tick
  EXPECT_TRUE(grid.Apply(GridModel::kUpdate, entry, later));
  EXPECT_EQ(grid.rows().at(7).cells[12], "0(K)10");
  EXPECT_EQ(entry.disconnectTime.second, 5);

  ClientEntry other = Entry();
  other.socket = 9;
  grid.Apply(GridModel::kAdd, other, kNow);
  GridModel::Changes changes = grid.TakeChanges();
  ASSERT_EQ(changes.changed.size(), 2u);  // one entry per row however often it changed
  EXPECT_TRUE(changes.removed.empty());

  EXPECT_TRUE(grid.Apply(GridModel::kRemove, entry, kNow));
  EXPECT_FALSE(grid.Apply(GridModel::kRemove, entry, kNow));
  changes = grid.TakeChanges();
  EXPECT_TRUE(changes.changed.empty());
  EXPECT_EQ(changes.removed, std::vector<uint32_t>{7});
  EXPECT_TRUE(grid.TakeChanges().Empty());
}

TEST(GridModelTest, ColumnTitlesComeFromTheLanguageText) {
  TextList texts;
  SplitText(BuiltinText(kTextGridColumns), "\n", texts);
  const std::vector<std::string> titles = GridColumnTitles(texts);
  ASSERT_EQ(titles.size(), kGridColumns);
  EXPECT_EQ(titles.front(), "Socket");
  EXPECT_EQ(titles[4], "接收机位置");
  EXPECT_EQ(titles.back(), "IP");
}

}  // namespace
