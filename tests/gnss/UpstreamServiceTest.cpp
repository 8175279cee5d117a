#include <gtest/gtest.h>

#include "gnss/UpstreamService.h"

namespace {

TEST(UpstreamServiceTest, FirstConnectedSlotCoveringThePosition) {
  std::array<LinkSlot, kLinkSlots> slots{};
  std::array<LinkSlotState, kLinkSlots> states{};
  for (int i = 0; i < 4; ++i) slots[static_cast<size_t>(i)] = {"127.0.0.1", 7000 + i};
  states[0] = {0, 1, {10, 20, 100, 110}};  // connected, elsewhere
  states[1] = {0, 0, {30, 31, 120, 121}};  // covers, down
  states[2] = {0, 1, {30, 31, 120, 121}};  // covers, connected
  states[3] = {0, 1, {}};                  // no rectangle: covers everywhere
  struct Case {
    double latitude, longitude;
    int from, slot;
  };
  for (const Case& c : {Case{30.5, 120.5, 0, 2}, Case{30.0, 121.0, 0, 2}, Case{30.5, 120.5, 3, 3},
                        Case{15, 105, 0, 0}, Case{50, 50, 0, 3}}) {
    EXPECT_EQ(ChooseUpstreamSlot(slots, states, c.latitude, c.longitude, c.from), c.slot)
        << c.latitude << "," << c.longitude << " from " << c.from;
  }
  states[3].connected = 0;
  EXPECT_EQ(ChooseUpstreamSlot(slots, states, 50, 50, 0), -1);
  slots[2].port = 0;  // the list ends at the first unconfigured slot
  EXPECT_EQ(ChooseUpstreamSlot(slots, states, 30.5, 120.5, 0), -1);
}

TEST(UpstreamServiceTest, GetModeLineCarriesTheWorkAreaParameters) {
  ClientEntry rover;
  rover.userName = "u1";
  rover.areaParameters = {1.5, -2.25, 3, 0.1, 0.2, 0.3, 1.000001, 1, 1};
  EXPECT_EQ(GetModeLine("UP1", rover),
            "VORAN,GETMODE,UP1,u1,1,0,1,1.50000,-2.25000,3.00000,0.100000000000,0.200000000000,"
            "0.300000000000,1.000001000000\r\n");
}

}  // namespace
