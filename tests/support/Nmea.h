#pragma once
// NMEA sentences for tests: a checksum computed as receivers compute it, and GGA sentences at a
// position given in degrees.
#include <cmath>
#include <cstdint>
#include <string>

#include "core/StrFormat.h"

namespace testsupport {

// "$" + body + "*" + two hexadecimal digits + CR LF.
inline std::string NmeaSentence(const std::string& body, bool lowerCase = false) {
  uint8_t x = 0;
  for (char c : body) x ^= static_cast<uint8_t>(c);
  return "$" + body + StrFormat(lowerCase ? "*%02x" : "*%02X", x) + "\r\n";
}

// Degrees as d..dmm.mmmmm with the hemisphere letter.
inline std::string NmeaCoordinate(double degrees, int degreeDigits, char positive, char negative) {
  const double a = std::fabs(degrees);
  const int whole = static_cast<int>(a);
  return StrFormat("%0*d%08.5f,%c", degreeDigits, whole, (a - whole) * 60.0,
                   degrees < 0 ? negative : positive);
}

// A fixed-solution GGA sentence (8 satellites, age 1.0) at a position.
inline std::string GgaAt(double latitude, double longitude, double height = 50.0) {
  return NmeaSentence("GPGGA,021505.00," + NmeaCoordinate(latitude, 2, 'N', 'S') + "," +
                      NmeaCoordinate(longitude, 3, 'E', 'W') +
                      StrFormat(",4,08,0.9,%.1f,M,0.0,M,1.0,0000", height));
}

}  // namespace testsupport
