#include "ui/WorkAreaPage.h"

#include <boost/json.hpp>
#include <cmath>

#include "ui/JsonTexts.h"

namespace json = boost::json;

namespace {

// A finite number from a JSON value; false for anything else.
bool Number(const json::value* value, double& out) {
  if (value == nullptr) return false;
  if (value->is_double()) out = value->as_double();
  else if (value->is_int64()) out = static_cast<double>(value->as_int64());
  else if (value->is_uint64()) out = static_cast<double>(value->as_uint64());
  else return false;
  return std::isfinite(out);
}

bool Flag(const json::value* value, int32_t& out) {
  if (value == nullptr) return false;
  if (value->is_bool()) out = value->as_bool() ? 1 : 0;
  else if (value->is_int64() && (value->as_int64() == 0 || value->as_int64() == 1)) out = static_cast<int32_t>(value->as_int64());
  else return false;
  return true;
}

const char* kParameterNames[] = {"dx", "dy", "dz", "rx", "ry", "rz", "sf"};

bool ParseSave(const json::object& object, AreaBounds& bounds, AreaParameters& parameters) {
  const json::value* b = object.if_contains("bounds");
  if (b == nullptr || !b->is_array() || b->as_array().size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (!Number(&b->as_array()[i], bounds[i])) return false;
  }
  const json::value* p = object.if_contains("parameters");
  if (p == nullptr || !p->is_object()) return false;
  const json::object& values = p->as_object();
  double* targets[] = {&parameters.dx, &parameters.dy, &parameters.dz, &parameters.rx,
                       &parameters.ry, &parameters.rz, &parameters.sf};
  for (size_t i = 0; i < 7; ++i) {
    if (!Number(values.if_contains(kParameterNames[i]), *targets[i])) return false;
  }
  return Flag(values.if_contains("useSeven"), parameters.useSeven) &&
         Flag(values.if_contains("useUndulation"), parameters.useUndulation);
}

}  // namespace

std::string WorkAreaPage::StateJson(const std::string& error) const {
  const WorkAreaForm form = dialog_.form();
  json::array names;
  for (const auto& name : form.names) names.emplace_back(JsonText(name));
  json::array bounds;
  for (double v : form.bounds) bounds.emplace_back(v);
  const AreaParameters& p = form.parameters;
  json::object parameters{{"dx", p.dx}, {"dy", p.dy}, {"dz", p.dz}, {"rx", p.rx}, {"ry", p.ry},
                          {"rz", p.rz}, {"sf", p.sf}, {"useSeven", p.useSeven}, {"useUndulation", p.useUndulation}};
  json::object state{{"open", form.open},
                     {"names", std::move(names)},
                     {"selected", JsonText(form.selected)},
                     {"bounds", std::move(bounds)},
                     {"parameters", std::move(parameters)},
                     {"texts", DialogJson(texts_)},
                     {"nameTexts", DialogJson(nameTexts_)}};
  if (!error.empty()) state["error"] = JsonText(error);
  return json::serialize(state);
}

SettingsAnswer WorkAreaPage::Request(std::string_view method, std::string_view action, std::string_view body) {
  if (method == "GET") return action == "state" ? SettingsAnswer{200, StateJson()} : SettingsAnswer{404, "{}"};
  boost::system::error_code parseError;
  const json::value value = body.empty() ? json::value(json::object()) : json::parse(body, parseError);
  if (parseError || !value.is_object()) return {400, R"({"error":"body must be a JSON object"})"};
  const json::object& object = value.as_object();
  const json::value* name = object.if_contains("name");
  const bool hasName = name != nullptr && name->is_string();
  std::string error;
  int status = 200;
  if (action == "open") {
    dialog_.Open();
  } else if (action == "close") {
    dialog_.Close();
  } else if (action == "select") {
    if (!hasName) return {400, R"({"error":"body needs name"})"};
    if (!dialog_.Select(std::string(name->as_string()))) error = "No such work area", status = 404;
  } else if (action == "add") {
    if (!hasName) return {400, R"({"error":"body needs name"})"};
    if (!dialog_.Add(std::string(name->as_string()), error)) status = 409;
  } else if (action == "save") {
    AreaBounds bounds{};
    AreaParameters parameters;
    if (!ParseSave(object, bounds, parameters)) return {400, R"({"error":"body needs bounds and parameters"})"};
    if (!dialog_.Save(bounds, parameters)) error = "Not saved", status = 409;
  } else if (action == "delete") {
    if (!dialog_.Delete()) error = "Not deleted: an account uses this work area, or none is loaded", status = 409;
  } else if (action == "pick") {
    double corners[4];
    const char* keys[] = {"latitude1", "longitude1", "latitude2", "longitude2"};
    for (size_t i = 0; i < 4; ++i) {
      if (!Number(object.if_contains(keys[i]), corners[i])) return {400, R"({"error":"body needs two corners"})"};
    }
    dialog_.Pick(corners[0], corners[1], corners[2], corners[3]);
  } else {
    return {404, R"({"error":"not found"})"};
  }
  if (changed_) changed_();
  return {status, StateJson(error)};
}
