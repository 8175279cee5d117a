#include "ui/map/MapMonitor.h"

#include <boost/json.hpp>
#include <cctype>
#include <charconv>

#include "ui/QueryString.h"
#include "ui/map/MapJson.h"

namespace json = boost::json;

namespace {

SettingsAnswer Error(int status, std::string_view reason) {
  return {status, "{\"error\":\"" + std::string(reason) + "\"}"};
}

bool Integer(std::string_view text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The body as a JSON object; null when it is not one.
const json::object* BodyObject(std::string_view body, json::value& holder) {
  json::error_code error;
  holder = json::parse(body, error);
  return error ? nullptr : holder.if_object();
}

bool Bool(const json::object& object, std::string_view key, bool& value) {
  const json::value* field = object.if_contains(key);
  if (field == nullptr) return true;  // missing: unchanged
  if (!field->is_bool()) return false;
  value = field->get_bool();
  return true;
}

}  // namespace

DialogTexts LayerControlTexts() { return {"图层控制", {{1, "确定"}}}; }

std::string MapMonitor::TakeMessage() {
  RoveView::Changes changes = view_.TakeChanges();
  if (changes.Empty()) return {};
  json::array cleared;
  for (const size_t layer : changes.cleared) cleared.emplace_back(layer);
  json::array removed;
  for (const int id : changes.removed) removed.emplace_back(id);
  json::array objects;
  for (const auto& [layer, object] : changes.objects) objects.emplace_back(MapObjectJson(layer, *object));
  json::object message{{"type", "map"},
                       {"cleared", std::move(cleared)},
                       {"removed", std::move(removed)},
                       {"objects", std::move(objects)},
                       {"follow", view_.followRovers()},
                       {"loaded", view_.mapsLoaded()}};
  if (changes.layersChanged) {
    message["layers"] = MapLayersJson(view_);
    const MapBox extent = view_.map().Extent();
    if (!extent.Empty()) message["extent"] = MapBoxJson(extent);
  }
  if (changes.view) message["view"] = MapBoxJson(*changes.view);
  if (changes.locate) {
    message["locate"] = json::object{
        {"x", changes.locate->centre.x}, {"y", changes.locate->centre.y}, {"scale", changes.locate->scale}};
  }
  return json::serialize(message);
}

SettingsAnswer MapMonitor::Request(std::string_view method, std::string_view target, std::string_view body) {
  const std::string_view path = target.substr(0, target.find('?'));
  if (method == "GET") {
    if (path == "state") return {200, json::serialize(MapSnapshotJson(*this))};
    if (path == "objects") {
      int64_t layer = -1;
      if (!Integer(QueryParameter(target, "layer"), layer) || layer < 0 ||
          static_cast<size_t>(layer) >= view_.map().layers().size())
        return Error(404, "no such layer");
      json::array objects;
      for (const auto& [id, object] : view_.map().layers()[static_cast<size_t>(layer)].objects)
        objects.emplace_back(MapObjectJson(static_cast<size_t>(layer), object));
      return {200, json::serialize(json::object{{"layer", layer}, {"objects", std::move(objects)}})};
    }
    if (path == "picture") {
      int64_t id = 0;
      const MapPicture* picture =
          Integer(QueryParameter(target, "id"), id) ? view_.Picture(static_cast<int>(id)) : nullptr;
      if (picture == nullptr) return Error(404, "no such picture");
      return {200, MapPictureJson(*picture)};
    }
    return Error(404, "not found");
  }
  if (method != "POST") return Error(405, "method not allowed");
  json::value holder;
  const json::object* request = BodyObject(body, holder);
  if (request == nullptr) return Error(400, "body needs an object");
  if (path == "follow") {
    bool on = view_.followRovers();
    if (!Bool(*request, "on", on)) return Error(400, "on is true or false");
    view_.SetFollow(on);
    return {200, json::serialize(json::object{{"follow", view_.followRovers()}})};
  }
  if (path == "layer") {
    const json::value* index = request->if_contains("index");
    if (index == nullptr || !index->is_int64() || index->get_int64() < 0 ||
        static_cast<size_t>(index->get_int64()) >= view_.map().layers().size())
      return Error(404, "no such layer");
    const CMapLayer& layer = view_.map().layers()[static_cast<size_t>(index->get_int64())];
    bool display = layer.display, select = layer.select, label = layer.label, edit = layer.edit;
    if (!Bool(*request, "display", display) || !Bool(*request, "select", select) ||
        !Bool(*request, "label", label) || !Bool(*request, "edit", edit))
      return Error(400, "switches are true or false");
    view_.SetLayerSwitches(static_cast<size_t>(index->get_int64()), display, select, label, edit);
    return {200, json::serialize(json::object{{"layers", MapLayersJson(view_)}})};
  }
  if (path == "view") {
    const json::value* scale = request->if_contains("scale");
    if (scale == nullptr || !scale->is_number()) return Error(400, "body needs scale");
    json::array drawn;
    for (const size_t layer : view_.DrawnLayers(scale->to_number<double>())) drawn.emplace_back(layer);
    return {200, json::serialize(json::object{{"drawn", std::move(drawn)}})};
  }
  return Error(404, "not found");
}

std::string TileOrigin(std::string_view url) {
  size_t schemeEnd = 0;
  if (url.starts_with("https://")) {
    schemeEnd = 8;
  } else if (url.starts_with("http://")) {
    schemeEnd = 7;
  } else {
    return {};
  }
  const size_t hostEnd = url.find_first_of("/?#", schemeEnd);
  const std::string_view origin = url.substr(0, hostEnd);
  // A template in the host ({s}.tile...) stands for any subdomain.
  std::string out;
  for (size_t i = 0; i < origin.size(); ++i) {
    const char c = origin[i];
    if (c == '{') {
      const size_t close = origin.find('}', i);
      if (close == std::string_view::npos) return {};
      out += '*';
      i = close;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '/') {
      out += c;
    } else {
      return {};  // nothing that could break out of the policy header
    }
  }
  return out.size() > schemeEnd ? out : std::string();
}
