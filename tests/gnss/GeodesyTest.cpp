#include <gtest/gtest.h>

#include <cmath>

#include "gnss/Geodesy.h"

namespace {

double Rad(double degrees) { return degrees * kPi / 180.0; }

TEST(GeodesyTest, RoundTripsInEveryQuadrant) {
  // 30 N 114 E first: X < 0 there, so the longitude correction is exercised.
  const double cases[][3] = {
      {30.0, 114.0, 50.0},           {52.70442, 19.57256, 153.8},    {-33.44985, -70.68135, 570.8},
      {-35.31617, 149.01015, 802.6}, {44.08939, -121.30752, 1070.7}, {89.9, 45.0, 10.0}};
  for (const auto& c : cases) {
    const CoordXYZ xyz = BLHtoXYZ_WGS84(Rad(c[0]), Rad(c[1]), c[2]);
    const CoordBLH blh = XYZtoBLH_WGS84(xyz.X, xyz.Y, xyz.Z);
    EXPECT_NEAR(RadiansToDegrees(blh.B), c[0], 1e-9) << c[0] << " " << c[1];
    EXPECT_NEAR(RadiansToDegrees(blh.L), c[1], 1e-9) << c[0] << " " << c[1];
    EXPECT_NEAR(blh.H, c[2], 0.001) << c[0] << " " << c[1];
  }
}

TEST(GeodesyTest, LongitudeFollowsTheQuadrantOfNegativeX) {
  const double east = RadiansToDegrees(XYZtoBLH_WGS84(-3e6, 4e6, 3e6).L);
  EXPECT_GT(east, 90.0);
  EXPECT_LT(east, 180.0);
  const double west = RadiansToDegrees(XYZtoBLH_WGS84(-3e6, -4e6, 3e6).L);
  EXPECT_GT(west, -180.0);
  EXPECT_LT(west, -90.0);
}

TEST(GeodesyTest, ZeroXCentreAndNotANumberGiveAllZero) {
  for (const CoordBLH& blh : {XYZtoBLH_WGS84(0.0, 6378137.0, 0.0), XYZtoBLH_WGS84(0.0, 0.0, 0.0),
                              XYZtoBLH_WGS84(std::nan(""), 1.0, 1.0)}) {
    EXPECT_EQ(blh.B, 0.0);
    EXPECT_EQ(blh.L, 0.0);
    EXPECT_EQ(blh.H, 0.0);
  }
}

TEST(GeodesyTest, Distance) {
  const CoordXYZ p{1.0, 2.0, 3.0};
  EXPECT_EQ(XYZDistance(p, p), 0.0);
  EXPECT_DOUBLE_EQ(XYZDistance(p, {4.0, 6.0, 15.0}), 13.0);
}

}  // namespace
