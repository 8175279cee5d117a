#include "ui/map/MapJson.h"

#include <boost/json.hpp>

#include "ui/MonitorJson.h"
#include "ui/map/MapMonitor.h"

namespace json = boost::json;

namespace {

json::string Text(std::string_view text) { return json::string(ValidUtf8(text)); }

json::object TextsJson(const MapTexts& texts) {
  json::array columns;
  for (const std::string& column : texts.columns) columns.emplace_back(Text(column));
  json::object controls;
  for (const ControlText& control : texts.layerControl.controls)
    controls[std::to_string(control.id)] = Text(control.text);
  return {{"caption", Text(texts.layerControl.caption)},
          {"controls", std::move(controls)},
          {"columns", std::move(columns)}};
}

}  // namespace

json::object MapBoxJson(const MapBox& box) {
  return {{"x1", box.minX}, {"y1", box.minY}, {"x2", box.maxX}, {"y2", box.maxY}};
}

json::object MapObjectJson(size_t layer, const CMapObject& object) {
  json::array points;
  for (const MapPoint& point : object.points) points.emplace_back(json::array{point.x, point.y});
  json::object out{{"id", object.id},
                   {"layer", layer},
                   {"kind", static_cast<int>(object.kind)},
                   {"points", std::move(points)},
                   {"text", Text(object.text)},
                   {"colour", object.colour}};
  if (object.symbol >= 0) out["symbol"] = object.symbol;
  if (object.kind != MapKind::kSymbol) {
    out["attributes"] = json::array{object.attributes[0], object.attributes[1]};
    if (object.size != 0.0) out["size"] = object.size;
  }
  return out;
}

json::array MapLayersJson(const RoveView& view) {
  json::array layers;
  const auto& all = view.map().layers();
  for (size_t i = 0; i < all.size(); ++i) {
    const CMapLayer& layer = all[i];
    layers.emplace_back(json::object{{"index", i},
                                     {"name", Text(layer.name)},
                                     {"display", layer.display},
                                     {"select", layer.select},
                                     {"label", layer.label},
                                     {"edit", layer.edit},
                                     {"maxDisp", layer.maxDisp},
                                     {"minDisp", layer.minDisp},
                                     {"background", layer.background},
                                     {"count", layer.objects.size()}});
  }
  return layers;
}

json::object MapSnapshotJson(const MapMonitor& map) {
  const RoveView& view = map.view();
  json::array objects;
  const auto& layers = view.map().layers();
  for (size_t i = 0; i < layers.size(); ++i) {
    if (layers[i].background) continue;
    for (const auto& [id, object] : layers[i].objects) objects.emplace_back(MapObjectJson(i, object));
  }
  json::object out{{"loaded", view.mapsLoaded()},    {"follow", view.followRovers()},
                   {"tileUrl", Text(map.tileUrl())}, {"texts", TextsJson(map.texts())},
                   {"layers", MapLayersJson(view)},  {"objects", std::move(objects)}};
  const MapBox extent = view.map().Extent();
  if (!extent.Empty()) out["extent"] = MapBoxJson(extent);
  return out;
}

std::string MapPictureJson(const MapPicture& picture) {
  return json::serialize(json::object{{"mime", picture.mime}, {"data", Base64(picture.bytes)}});
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += n > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += n > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}
