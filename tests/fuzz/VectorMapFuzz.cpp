// A vector map file as the input, read into objects and read through without a layer.
#include <sstream>

#include "fuzz/FuzzInput.h"
#include "ui/map/VectorMapFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool layerExists : {true, false}) {
    std::istringstream in(bytes);
    std::vector<CMapObject> objects;
    uint64_t lastRead = 0;
    const VectorMapResult result = ReadVectorMap(in, size, layerExists, objects, [&](uint64_t read) {
      fuzz::Require(read >= lastRead && read <= size, "progress within the file");
      lastRead = read;
    });
    fuzz::Require(layerExists || objects.empty(), "objects made without a layer");
    fuzz::Require(!layerExists || objects.size() == result.objects, "object count");
    // Every object needs at least a few bytes of the file, so a short file cannot make many.
    fuzz::Require(objects.size() <= size, "more objects than bytes");
    if (!result.headerOk) fuzz::Require(objects.empty(), "objects from a file with a wrong header");
  }
  return 0;
}
