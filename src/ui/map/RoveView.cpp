#include "ui/map/RoveView.h"

#include <cmath>
#include <cstdlib>

#include "core/ClientEntry.h"
#include "core/Messages.h"
#include "ui/map/MapSymbols.h"

namespace {

constexpr int kMapBase = 6;  // a base's position (the decoders' code)

double Rounded(double degrees) {
  return std::round(degrees * RoveView::kPositionSteps) / RoveView::kPositionSteps;
}

// Longitude as x, latitude as y, rounded.
MapPoint PositionOf(const ClientEntry& entry) {
  return {Rounded(entry.position[1]), Rounded(entry.position[0])};
}

CMapObject Symbol(const std::string& name, MapPoint at, int symbol, int colour = 0) {
  CMapObject object;
  object.kind = MapKind::kSymbol;
  object.text = name;
  object.points = {at};
  object.symbol = symbol;
  object.colour = colour;
  return object;
}

}  // namespace

void RoveView::Initialise(const std::vector<LayerSetRow>& layerSet) {
  if (initialised_) return;
  initialised_ = true;
  roverBox_ = MapBox{};
  for (const LayerSetRow& row : layerSet) {
    if (row.name.empty()) continue;
    CMapLayer layer;
    layer.name = row.name;
    layer.display = std::abs(row.display) != 0;
    layer.select = std::abs(row.select) != 0;
    layer.label = std::abs(row.label) != 0;
    layer.edit = std::abs(row.edit) != 0;
    layer.maxDisp = row.maxDisp;
    layer.minDisp = row.minDisp;
    layer.background = true;
    map_.AddLayer(std::move(layer));
  }
  for (const char* name :
       {kRoveLayer, kBaseLayer, kRoveOldLayer, kBaseOldLayer, kLinkedBaseLayer, kScopeLayer}) {
    CMapLayer layer;
    layer.name = name;
    layer.label = name != std::string_view(kRoveOldLayer) && name != std::string_view(kBaseOldLayer);
    map_.AddLayer(std::move(layer));
  }
  layersChanged_ = true;
}

void RoveView::AddLoadedMaps(std::vector<LoadedMap> maps) {
  Initialise({});
  for (LoadedMap& loaded : maps) {
    if (!loaded.picture) {
      const size_t layer = map_.Find(loaded.layerName);
      if (layer == DrawMap::npos) continue;
      for (CMapObject& object : loaded.objects) map_.Add(layer, std::move(object));
      continue;
    }
    CMapLayer pictureLayer;
    pictureLayer.name = loaded.layerName;
    pictureLayer.background = true;
    const size_t layer = map_.AddLayer(std::move(pictureLayer));
    CMapObject picture;
    picture.kind = MapKind::kPicture;
    picture.points = {loaded.corner1, loaded.corner2};
    picture.text = loaded.fileName;
    const int id = map_.Add(layer, std::move(picture));
    pictures_[id] = MapPicture{std::move(loaded.mime), std::move(loaded.bytes)};
  }
  mapsLoaded_ = true;
  layersChanged_ = true;
}

int RoveView::Put(size_t layer, CMapObject object) {
  const int id = map_.Add(layer, std::move(object));
  where_[id] = layer;
  dirty_.insert(id);
  return id;
}

void RoveView::Clear(size_t layer) {
  for (const auto& [id, object] : map_.layer(layer).objects) where_.erase(id);
  map_.layer(layer).objects.clear();
  cleared_.insert(layer);
  if (map_.layer(layer).name == kRoveLayer) rovers_.clear();
  if (map_.layer(layer).name == kBaseLayer) bases_.clear();
}

void RoveView::Trim() {
  const size_t dispNum = static_cast<size_t>(std::max(0, sources_.dispNum ? sources_.dispNum() : 1000));
  const size_t baseOld = Layer(kBaseOldLayer);
  if (map_.layer(baseOld).objects.size() >= kBaseOldLimit) Clear(baseOld);
  const size_t base = Layer(kBaseLayer);
  if (map_.layer(base).objects.size() > dispNum) Clear(base);
  const size_t roveOld = Layer(kRoveOldLayer);
  if (map_.layer(roveOld).objects.size() > dispNum) {
    roverBox_ = MapBox{};
    Clear(roveOld);
  }
}

void RoveView::OnMap(int code, const ClientEntry* entry) {
  if (!mapsLoaded_) return;
  Trim();
  switch (code) {
    case kMapRoverPosition:
      if (entry != nullptr) ShowRover(*entry, PositionOf(*entry));
      break;
    case kMapBase:
      if (entry != nullptr) ShowBase(*entry, PositionOf(*entry));
      break;
    case kMapEntryClosed:
      if (entry != nullptr) BaseGone(*entry);
      break;
    case kMapUpstreamStatus:
      ShowLinkedBases();
      break;
    case kMapServiceStopped:
      Clear(Layer(kLinkedBaseLayer));
      break;
    case kMapLocate:
      if (entry != nullptr) locate_ = Locate{PositionOf(*entry), kLocateScale};
      break;
    default:
      break;
  }
}

void RoveView::ShowRover(const ClientEntry& entry, MapPoint at) {
  const auto found = rovers_.find(entry.userName);
  CMapLayer& rove = map_.layer(Layer(kRoveLayer));
  CMapObject* rover = nullptr;
  if (found != rovers_.end()) {
    const auto it = rove.objects.find(found->second);
    if (it != rove.objects.end()) rover = &it->second;
  }
  if (rover == nullptr) {
    const int id = Put(Layer(kRoveLayer), Symbol(entry.userName, at, RoverSymbol(entry), kRoverColour));
    rovers_[entry.userName] = id;
  } else {
    Put(Layer(kRoveOldLayer), Symbol(entry.userName, rover->points.front(), kSymbolTrail, kRoverColour));
    rover->points = {at};
    rover->symbol = RoverSymbol(entry);
    dirty_.insert(rover->id);
  }
  roverBox_.Add(at);
  if (followRovers_) view_ = roverBox_;
}

void RoveView::ShowBase(const ClientEntry& entry, MapPoint at) {
  CMapLayer& base = map_.layer(Layer(kBaseLayer));
  const auto found = bases_.find(entry.userName);
  if (found != bases_.end()) {
    if (const auto it = base.objects.find(found->second); it != base.objects.end()) {
      it->second.points = {at};
      it->second.symbol = BaseSymbol(entry.agent);
      dirty_.insert(it->first);
      return;
    }
  }
  bases_[entry.userName] = Put(Layer(kBaseLayer), Symbol(entry.userName, at, BaseSymbol(entry.agent)));
}

void RoveView::BaseGone(const ClientEntry& entry) {
  const auto found = bases_.find(entry.userName);
  if (found == bases_.end()) return;
  const int id = found->second;
  bases_.erase(found);
  CMapLayer& base = map_.layer(Layer(kBaseLayer));
  auto node = base.objects.extract(id);
  if (node.empty()) return;
  node.mapped().symbol = kSymbolBaseGone;
  const size_t baseOld = Layer(kBaseOldLayer);
  map_.layer(baseOld).objects.insert(std::move(node));
  where_[id] = baseOld;
  dirty_.insert(id);
}

void RoveView::ShowLinkedBases() {
  const size_t layer = Layer(kLinkedBaseLayer);
  Clear(layer);
  if (!sources_.linkedBases) return;
  for (const LinkedBase& linked : sources_.linkedBases()) {
    const MapPoint at{Rounded(linked.longitude), Rounded(linked.latitude)};
    Put(layer, Symbol(linked.name, at, linked.error ? kSymbolLinkedBaseError : kSymbolLinkedBase));
  }
}

void RoveView::SetWorkAreas(const std::vector<WorkAreaRect>& areas) {
  const size_t layer = Layer(kScopeLayer);
  if (layer == DrawMap::npos) return;
  Clear(layer);
  for (const WorkAreaRect& area : areas) {
    // -1 is no work area and 0 no rectangle.
    if ((area.b1 == 0.0 && area.b2 == 0.0) || area.b1 == -1.0 || area.l1 == -1.0) continue;
    CMapObject rect;
    rect.kind = MapKind::kRect;
    rect.text = area.name;
    rect.points = {{area.l1, area.b1}, {area.l2, area.b2}};
    rect.colour = kRoverColour;
    Put(layer, std::move(rect));
  }
}

bool RoveView::SetLayerSwitches(size_t index, bool display, bool select, bool label, bool edit) {
  if (index >= map_.layers().size()) return false;
  CMapLayer& layer = map_.layer(index);
  layer.display = display;
  layer.select = select;
  layer.label = label;
  layer.edit = edit;
  layersChanged_ = true;
  return true;
}

void RoveView::SetFollow(bool on) {
  if (on == followRovers_) return;
  followRovers_ = on;
  followChanged_ = true;
  if (on && !roverBox_.Empty()) view_ = roverBox_;
}

std::vector<size_t> RoveView::DrawnLayers(double scale) const {
  std::vector<size_t> drawn;
  for (size_t i = 0; i < map_.layers().size(); ++i) {
    if (DrawMap::Drawn(map_.layers()[i], scale, scale)) drawn.push_back(i);
  }
  return drawn;
}

const MapPicture* RoveView::Picture(int id) const {
  const auto it = pictures_.find(id);
  return it == pictures_.end() ? nullptr : &it->second;
}

RoveView::Changes RoveView::TakeChanges() {
  Changes changes;
  changes.cleared.assign(cleared_.begin(), cleared_.end());
  for (const int id : dirty_) {
    const auto at = where_.find(id);
    if (at == where_.end()) {
      changes.removed.push_back(id);
      continue;
    }
    const auto& objects = map_.layers()[at->second].objects;
    changes.objects.emplace_back(at->second, &objects.at(id));
  }
  changes.layersChanged = layersChanged_;
  changes.followChanged = followChanged_;
  changes.view = view_;
  changes.locate = locate_;
  dirty_.clear();
  cleared_.clear();
  layersChanged_ = followChanged_ = false;
  view_.reset();
  locate_.reset();
  return changes;
}
