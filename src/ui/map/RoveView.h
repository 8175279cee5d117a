#pragma once
// The map view's model: the map engine with the layers of the map-set file and the six built-in
// layers, the clients drawn by the map messages (1529), their trails and the trimming of the trails,
// the follow switch and the rover bounding box. Changes are collected and taken once per tick.
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/map/DrawMap.h"

struct ClientEntry;

// One row of table LayerSet.
struct LayerSetRow {
  std::string name;
  int display = 0;
  int select = 0;
  int label = 0;
  int edit = 0;
  double maxDisp = 0.0;
  double minDisp = 0.0;
};

// A base of the linked server as its link reported it.
struct LinkedBase {
  std::string name;
  double latitude = 0.0;
  double longitude = 0.0;
  bool error = false;
};

// A work area's rectangle: latitudes B1, B2 and longitudes L1, L2.
struct WorkAreaRect {
  std::string name;
  double b1 = 0.0, b2 = 0.0, l1 = 0.0, l2 = 0.0;
};

// What the loading of one map-set entry produced: the objects of a vector file for its layer, or a
// picture for a layer of its own.
struct LoadedMap {
  std::string layerName;
  bool picture = false;
  std::vector<CMapObject> objects;
  MapPoint corner1, corner2;  // a picture's rectangle
  std::string fileName;
  std::string mime;   // a picture's media type
  std::string bytes;  // a picture's file
};

// A picture held for the page: its media type and file.
struct MapPicture {
  std::string mime;
  std::string bytes;
};

class RoveView {
 public:
  static constexpr const char* kRoveLayer = "ROVE";
  static constexpr const char* kBaseLayer = "BASE";
  static constexpr const char* kRoveOldLayer = "ROVEOLD";
  static constexpr const char* kBaseOldLayer = "BASEOLD";
  static constexpr const char* kLinkedBaseLayer = "Kavro_Base";
  static constexpr const char* kScopeLayer = "Scope";
  static constexpr size_t kBaseOldLimit = 201;  // BASEOLD is emptied when it holds this many
  static constexpr double kLocateScale = 0.0002;
  static constexpr double kPositionSteps = 1e7;  // positions are rounded to 1e-7 degrees

  struct Sources {
    std::function<int()> dispNum;                          // SYSTEMSERVER "Disp_num"
    std::function<std::vector<LinkedBase>()> linkedBases;  // what code 11 draws
  };

  // A centre and a scale (map units per pixel) the view is set to.
  struct Locate {
    MapPoint centre;
    double scale = 0.0;
  };

  // What changed since the last take; the object pointers stay valid until the model changes.
  struct Changes {
    std::vector<size_t> cleared;                                // layers emptied (apply first)
    std::vector<int> removed;                                   // objects gone (apply next)
    std::vector<std::pair<size_t, const CMapObject*>> objects;  // objects added or changed, by layer
    bool layersChanged = false;  // layers added or switched, or the maps finished loading
    bool followChanged = false;
    std::optional<MapBox> view;  // follow: the view is set to the rovers' box
    std::optional<Locate> locate;
    bool Empty() const {
      return cleared.empty() && removed.empty() && objects.empty() && !layersChanged && !followChanged &&
             !view && !locate;
    }
  };

  void SetSources(Sources sources) { sources_ = std::move(sources); }

  // The first update: the layers of LayerSet (rows without a name skipped), then the built-in ones.
  void Initialise(const std::vector<LayerSetRow>& layerSet);
  // The end of loading: vector objects go to their existing layer, pictures to a layer of their own;
  // map messages are handled from now on.
  void AddLoadedMaps(std::vector<LoadedMap> maps);
  // Message 1529. Dropped until the maps are loaded.
  void OnMap(int code, const ClientEntry* entry);
  // The work-area rectangles of layer "Scope", replacing what it held.
  void SetWorkAreas(const std::vector<WorkAreaRect>& areas);

  // The layer control's four switches; false when there is no such layer.
  bool SetLayerSwitches(size_t index, bool display, bool select, bool label, bool edit);
  void SetFollow(bool on);
  // The layers drawn at a scale (map units per pixel), bottom first.
  std::vector<size_t> DrawnLayers(double scale) const;

  Changes TakeChanges();

  const DrawMap& map() const { return map_; }
  bool followRovers() const { return followRovers_; }
  bool mapsLoaded() const { return mapsLoaded_; }
  const MapBox& roverBox() const { return roverBox_; }
  const MapPicture* Picture(int id) const;

 private:
  size_t Layer(const char* name) const { return map_.Find(name); }
  int Put(size_t layer, CMapObject object);  // adds under a new id and marks it
  void Clear(size_t layer);
  void Trim();
  void ShowRover(const ClientEntry& entry, MapPoint at);
  void ShowBase(const ClientEntry& entry, MapPoint at);
  void BaseGone(const ClientEntry& entry);
  void ShowLinkedBases();

  DrawMap map_;
  Sources sources_;
  bool initialised_ = false;
  bool mapsLoaded_ = false;
  bool followRovers_ = true;
  MapBox roverBox_;
  std::unordered_map<std::string, int> rovers_;  // user name -> object in ROVE
  std::unordered_map<std::string, int> bases_;   // user name -> object in BASE
  std::unordered_map<int, size_t> where_;        // object of a client layer -> its layer
  std::map<int, MapPicture> pictures_;
  std::set<int> dirty_;
  std::set<size_t> cleared_;
  bool layersChanged_ = false;
  bool followChanged_ = false;
  std::optional<MapBox> view_;
  std::optional<Locate> locate_;
};
