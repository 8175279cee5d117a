#pragma once
// NMEA GGA sentences of a rover: found in its byte stream, checked, turned into a position, counted
// by solution quality and described in the rover's status text; each accepted sentence is recorded
// and passed on to the position monitors (GETGGA clients).
#include <cstdint>
#include <string_view>

#include "gnss/DecoderContext.h"

class CKavroGyBl;

// Longest buffered input kept without a complete GGA sentence, and the bound of one sentence.
constexpr int kGgaBufferLimit = 150;

// XOR of the characters between "$" and the first "*" against the two hexadecimal digits after it (a
// character that is no hexadecimal digit counts 0). False without "*" or with fewer than two
// characters after it.
bool NmeaChecksumOk(std::string_view sentence);

// One chunk from a rover. Returns 1 when the last sentence handled was accepted (or was a
// "GetCoordinate" request), else 0; latitude and longitude in degrees (south and west negative) and
// the height in metres describe that sentence, and are 0 without one.
int ParseGga(CKavroGyBl& gybl, DecoderContext& context, const uint8_t* data, uint32_t length, uint32_t socket,
             double& latitude, double& longitude, double& height);
