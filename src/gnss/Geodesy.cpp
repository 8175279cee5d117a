#include "gnss/Geodesy.h"

#include <cmath>

namespace {

constexpr int kMaxRefinements = 21;
constexpr double kLatitudeTolerance = 1e-11;  // radians
constexpr double kHeightTolerance = 0.00001;  // metres

}  // namespace

CoordBLH XYZtoBLH(double X, double Y, double Z, double a, double e) {
  const double e2 = e * e;
  const double p = std::sqrt(X * X + Y * Y);
  if (X == 0.0) return {};

  double L = std::atan(Y / X);
  if (X < 0.0) {
    if (Y > 0.0) L += kPi;
    if (Y < 0.0) L -= kPi;
  }
  if (std::isnan(L)) return {};

  const double r = std::sqrt(X * X + Y * Y + Z * Z);
  // The starting height is taken against the WGS 84 axis whatever ellipsoid was given.
  double H = r - kWgs84A;
  const double t = Z / p;
  double B = std::atan(t / (1.0 - e2 * a / (a + H)));
  if (std::isnan(B)) return {};

  for (int i = 0; i < kMaxRefinements; ++i) {
    const double previousB = B;
    const double previousH = H;
    const double sinB = std::sin(B);
    const double N = a / std::sqrt(1.0 - e2 * sinB * sinB);
    H = p / std::cos(B) - N;
    B = std::atan(t / (1.0 - e2 * N / (N + H)));
    if (std::fabs(previousB - B) <= kLatitudeTolerance && std::fabs(previousH - H) <= kHeightTolerance) break;
  }
  return {B, L, H};
}

CoordBLH XYZtoBLH_WGS84(double X, double Y, double Z) { return XYZtoBLH(X, Y, Z, kWgs84A, kWgs84E); }

CoordXYZ BLHtoXYZ(double B, double L, double H, double a, double e) {
  const double esinB = e * std::sin(B);
  const double N = a / std::sqrt(1.0 - esinB * esinB);
  return {(N + H) * std::cos(B) * std::cos(L), (N + H) * std::cos(B) * std::sin(L),
          (N * (1.0 - e * e) + H) * std::sin(B)};
}

CoordXYZ BLHtoXYZ_WGS84(double B, double L, double H) { return BLHtoXYZ(B, L, H, kWgs84A, kWgs84E); }

double XYZDistance(const CoordXYZ& first, const CoordXYZ& second) {
  const double dx = first.X - second.X;
  const double dy = first.Y - second.Y;
  const double dz = first.Z - second.Z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}
