#pragma once
// The tables of the map-set file read by the map view: LayerSet (the background layers) and MapData
// (the map files), in table order.
#include <functional>
#include <string>
#include <vector>

#include "ui/map/MapLoader.h"
#include "ui/map/RoveView.h"

class LocalStore;

// The rows of LayerSet; a table that cannot be read gives none and the red line "LayerSet Fail".
std::vector<LayerSetRow> ReadLayerSet(LocalStore& store,
                                      const std::function<void(const std::string&)>& redLine);
// The rows of MapData; a table that cannot be read gives none and the red line "Mapdata open Fail".
std::vector<MapDataEntry> ReadMapData(LocalStore& store,
                                      const std::function<void(const std::string&)>& redLine);
