#pragma once
// The JSON of the map view: its part of the snapshot, its events and the answers of its requests.
#include <boost/json/fwd.hpp>
#include <string>

class MapMonitor;
class RoveView;
struct CMapObject;
struct MapPicture;
struct MapBox;

boost::json::object MapBoxJson(const MapBox& box);  // {x1, y1, x2, y2}

// {loaded, follow, tileUrl, texts, layers, objects (of the layers not loaded from files), extent}.
boost::json::object MapSnapshotJson(const MapMonitor& map);
// The layers with their switches, ranges and object counts.
boost::json::array MapLayersJson(const RoveView& view);
boost::json::object MapObjectJson(size_t layer, const CMapObject& object);
// {mime, data}: a picture with its bytes in base64.
std::string MapPictureJson(const MapPicture& picture);
std::string Base64(std::string_view bytes);
