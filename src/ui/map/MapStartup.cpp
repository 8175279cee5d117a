#include "ui/map/MapStartup.h"

#include <set>

#include "app/KavroGyBl.h"
#include "app/MonitorEvents.h"
#include "core/Messages.h"
#include "db/KavroDatabase.h"
#include "db/WorkAreas.h"
#include "ui/map/MapLoader.h"
#include "ui/map/MapMonitor.h"
#include "ui/map/MapSetTables.h"

namespace {

std::vector<LinkedBase> LinkedBases(const UpstreamStatus& status) {
  std::vector<LinkedBase> bases = {
      {status.firstName, status.firstLatitude, status.firstLongitude, status.error}};
  if (status.mode == 1)
    bases.push_back({status.secondName, status.secondLatitude, status.secondLongitude, status.error});
  return bases;
}

}  // namespace

void ShowWorkAreas(CKavroGyBl& gybl, WorkAreas& areas, MapMonitor& map) {
  if (gybl.settings.useSql != 0) return;
  std::vector<WorkAreaRect> rects;
  for (const std::string& name : gybl.workAreaList) {
    AreaBounds bounds{};
    AreaParameters parameters;
    if (areas.GetWorkArea(name, bounds, parameters) != 1) continue;
    rects.push_back({name, bounds[0], bounds[1], bounds[2], bounds[3]});
  }
  map.view().SetWorkAreas(rects);
}

void StartMapView(CKavroGyBl& gybl, KavroDatabase& database, WorkAreas& areas, MapMonitor& map,
                  MonitorEvents& events, MapLoader& loader) {
  MapTexts texts;
  texts.layerControl = gybl.applyLanguageToDialog(kLayerControlDialog, LayerControlTexts());
  gybl.LoadTexts(kTextLayerColumns);
  for (size_t i = 0; i < texts.columns.size() && i < gybl.textList.size(); ++i) {
    if (!gybl.textList[i].empty()) texts.columns[i] = gybl.textList[i];
  }
  map.SetTexts(std::move(texts));
  map.SetTileUrl(gybl.settings.monitorTileUrl);
  map.view().SetSources(
      {[&gybl] { return gybl.settings.dispNum; }, [&gybl] { return LinkedBases(gybl.upstreamStatus); }});

  const auto redLine = [&gybl](const std::string& text) { gybl.Log(text, kLogRed); };
  std::vector<LayerSetRow> layerSet = ReadLayerSet(database.mapSetDatabase, redLine);
  std::vector<MapDataEntry> entries = ReadMapData(database.mapSetDatabase, redLine);
  map.view().Initialise(layerSet);
  ShowWorkAreas(gybl, areas, map);
  std::set<std::string> layers;
  for (const CMapLayer& layer : map.view().map().layers()) layers.insert(layer.name);
  loader.Start(
      gybl.programDirectory, std::move(entries), std::move(layers),
      [&events](int code, int value, const std::string& text) { events.OnProgress(code, value, text); },
      [&map](std::vector<LoadedMap> maps) { map.view().AddLoadedMaps(std::move(maps)); });
}
