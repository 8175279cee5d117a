#pragma once
// The reader of vector map files ("VoranSurvey Map Ver:"): an object archive of little-endian
// 32-bit integers, 64-bit doubles and length-prefixed texts holding map objects until type -1.
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "ui/map/DrawMap.h"

inline constexpr std::string_view kVectorMapHeader = "VoranSurvey Map Ver:";

struct VectorMapResult {
  bool headerOk = false;  // the header began with kVectorMapHeader
  bool complete = false;  // the end record (type -1) was reached
  size_t objects = 0;     // objects created (labels included)
};

// Reads a map file of size bytes from in. The objects go to out (without ids) when the target layer
// exists; otherwise the file is read through and nothing is created. A wrong header creates nothing;
// a file cut short, or holding a count or text longer than what is left, stops at the last whole
// object. progress, when set, is told how many bytes were read after every object.
VectorMapResult ReadVectorMap(std::istream& in, uint64_t size, bool layerExists, std::vector<CMapObject>& out,
                              const std::function<void(uint64_t read)>& progress = {});
