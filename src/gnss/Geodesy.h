#pragma once
// Conversions between earth-centred Cartesian and geodetic coordinates, and straight-line distance.
// Free functions on plain triples; they keep no state.

// Earth-centred, earth-fixed coordinates in metres.
struct CoordXYZ {
  double X = 0.0;
  double Y = 0.0;
  double Z = 0.0;
};

// Latitude B and longitude L in radians (L within -pi..pi), height H above the ellipsoid in metres.
struct CoordBLH {
  double B = 0.0;
  double L = 0.0;
  double H = 0.0;
};

constexpr double kPi = 3.141592653589793;
constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84E = 0.0818191908426215;  // first eccentricity, not its square

// Cartesian to geodetic on the ellipsoid (a, e). X exactly 0, or a longitude or starting latitude
// that is not a number, gives all zero.
CoordBLH XYZtoBLH(double X, double Y, double Z, double a, double e);
CoordBLH XYZtoBLH_WGS84(double X, double Y, double Z);
CoordXYZ BLHtoXYZ(double B, double L, double H, double a, double e);
CoordXYZ BLHtoXYZ_WGS84(double B, double L, double H);
double XYZDistance(const CoordXYZ& first, const CoordXYZ& second);

inline double RadiansToDegrees(double radians) { return radians * 180.0 / kPi; }
