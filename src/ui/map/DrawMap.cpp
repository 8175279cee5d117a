#include "ui/map/DrawMap.h"

#include <algorithm>

void MapBox::Add(const MapPoint& point) {
  minX = std::min(minX, point.x);
  minY = std::min(minY, point.y);
  maxX = std::max(maxX, point.x);
  maxY = std::max(maxY, point.y);
}

void MapBox::Add(const MapBox& box) {
  if (box.Empty()) return;
  Add(MapPoint{box.minX, box.minY});
  Add(MapPoint{box.maxX, box.maxY});
}

size_t DrawMap::AddLayer(CMapLayer layer) {
  if (const size_t found = Find(layer.name); found != npos) return found;
  layers_.push_back(std::move(layer));
  return layers_.size() - 1;
}

size_t DrawMap::Find(std::string_view name) const {
  for (size_t i = 0; i < layers_.size(); ++i) {
    if (layers_[i].name == name) return i;
  }
  return npos;
}

int DrawMap::Add(size_t layer, CMapObject object) {
  object.id = NextId();
  const int id = object.id;
  layers_[layer].objects.emplace(id, std::move(object));
  return id;
}

bool DrawMap::Drawn(const CMapLayer& layer, double scaleX, double scaleY) {
  if (!layer.display || scaleX == 0.0 || scaleY == 0.0) return false;
  for (const double scale : {scaleX, scaleY}) {
    if (layer.maxDisp != 0.0 && scale > layer.maxDisp) return false;
    if (layer.minDisp != 0.0 && scale < layer.minDisp) return false;
  }
  return true;
}

MapBox DrawMap::Extent() const {
  MapBox box;
  for (const CMapLayer& layer : layers_) {
    for (const auto& [id, object] : layer.objects) {
      for (const MapPoint& point : object.points) box.Add(point);
    }
  }
  return box;
}
