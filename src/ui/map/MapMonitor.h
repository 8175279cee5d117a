#pragma once
// The map view on the web monitor: the model, the captions of the layer control, the tile background
// the operator set, the batched "map" events and the /api/map/ requests of the page.
#include <string>
#include <string_view>
#include <vector>

#include "app/LanguageTexts.h"
#include "ui/MonitorServer.h"
#include "ui/map/RoveView.h"

constexpr int kLayerControlDialog = 146;
constexpr int kTextLayerColumns = 62446;  // the layer control's columns: name and the four switches

// The built-in caption and control texts of the layer control, for the language table.
DialogTexts LayerControlTexts();

struct MapTexts {
  DialogTexts layerControl = LayerControlTexts();
  std::vector<std::string> columns = {"层名", "显示", "选择", "标注", "编辑"};
};

class MapMonitor {
 public:
  static constexpr std::string_view kApiPrefix = "/api/map/";

  RoveView& view() { return view_; }
  const RoveView& view() const { return view_; }
  void SetTexts(MapTexts texts) { texts_ = std::move(texts); }
  const MapTexts& texts() const { return texts_; }
  // MONITOR "TileURL": a tile address template ({z}, {x}, {y}); empty draws no tiles.
  void SetTileUrl(std::string url) { tileUrl_ = std::move(url); }
  const std::string& tileUrl() const { return tileUrl_; }

  // The changes since the last call as one "map" event; empty when nothing changed.
  std::string TakeMessage();
  // A request under /api/map/ (target without the prefix, query included).
  SettingsAnswer Request(std::string_view method, std::string_view target, std::string_view body);

 private:
  RoveView view_;
  MapTexts texts_;
  std::string tileUrl_;
};

// The origin (scheme, host and port) of a tile address template, for the page's image sources; empty
// when it is not an http or https address.
std::string TileOrigin(std::string_view url);
