#include "ui/SettingsFormJson.h"

#include <boost/json.hpp>
#include <charconv>

#include "ui/MonitorJson.h"

namespace json = boost::json;

namespace {

const char* KindName(SettingsControlKind kind) {
  switch (kind) {
    case SettingsControlKind::kNumber:
      return "number";
    case SettingsControlKind::kAddress:
      return "address";
    case SettingsControlKind::kText:
      return "text";
    case SettingsControlKind::kPassword:
      return "password";
    case SettingsControlKind::kCheck:
      return "check";
    case SettingsControlKind::kShown:
      return "shown";
    case SettingsControlKind::kButton:
      return "button";
  }
  return "";
}

json::string Text(std::string_view text) { return json::string(ValidUtf8(text)); }

json::object TextsJson(const DialogTexts& texts) {
  json::array controls;
  for (const auto& control : texts.controls)
    controls.emplace_back(json::object{{"id", control.id}, {"text", Text(control.text)}});
  return {{"caption", Text(texts.caption)}, {"controls", std::move(controls)}};
}

// The group boxes in their order, each with its controls in the order they are taken.
json::array LayoutJson() {
  json::array groups;
  for (const int group : {kGroupNetwork, kGroupSystem, kGroupSql, kGroupRunning}) {
    json::array controls;
    for (const auto& control : SettingsControls()) {
      if (control.group == group)
        controls.emplace_back(json::object{{"id", control.id}, {"kind", KindName(control.kind)}});
    }
    groups.emplace_back(json::object{{"id", group}, {"controls", std::move(controls)}});
  }
  return groups;
}

json::object ValuesJson(const SettingsFormValues& v) {
  json::object values;
  const auto put = [&values](int id, json::value value) { values[std::to_string(id)] = std::move(value); };
  put(kCtlPort, v.port);
  put(kCtlPort2, v.port2);
  put(kCtlNetIp, Text(v.netIp));
  put(kCtlNetPort, v.netPort);
  put(kCtlUseNet, v.useNet);
  put(kCtlUpdatePush, v.updatePush);
  put(kCtlAutoStart, v.autoStartService);
  put(kCtlRunAtLogon, v.autoRunAtLogon);
  put(kCtlPositionManagement, v.positionManagement);
  put(kCtlMustNeedGga, v.mustNeedGga);
  put(kCtlSaveGga, v.saveGga);
  put(kCtlFixedBase, v.fixedBase);
  put(kCtlMovingBase, v.movingBase);
  put(kCtlPasswordProtection, v.passwordProtection);
  put(kCtlWorkAreas, v.useWorkAreas);
  put(kCtlMultiUser, v.multiUser);
  put(kCtlAutoCreateUser, v.autoCreateUser);
  put(kCtlDispNum, v.dispNum);
  put(kCtlMountLocal, Text(v.mountLocal));
  put(kCtlUseSql, v.useSql);
  put(kCtlSqlIp, Text(v.sqlIp));
  put(kCtlSqlPort, v.sqlPort);
  put(kCtlSqlUser, Text(v.sqlUser));
  put(kCtlSqlPassword, Text(v.sqlPassword));
  put(kCtlSqlDbName, Text(v.sqlDbName));
  put(kCtlStartTime, Text(v.startTime));
  put(kCtlUpdateNotice, Text(v.updateNotice));
  return values;
}

json::object EnabledJson(const std::map<int, bool>& enabled) {
  json::object object;
  for (const auto& [id, on] : enabled) object[std::to_string(id)] = on;
  return object;
}

}  // namespace

std::string SettingsFormJson(const SettingsFormView& view) {
  json::array errors;
  for (const auto& error : view.errors)
    errors.emplace_back(json::object{{"id", error.id}, {"text", Text(error.text)}});
  return json::serialize(
      json::object{{"texts", TextsJson(view.texts)},
                   {"layout", LayoutJson()},
                   {"values", view.values != nullptr ? ValuesJson(*view.values) : json::object()},
                   {"enabled", EnabledJson(view.enabled)},
                   {"running", view.running},
                   {"errors", std::move(errors)}});
}

std::string SettingsEventMessage(const std::map<int, bool>& enabled, bool running) {
  return json::serialize(
      json::object{{"type", "settings"}, {"running", running}, {"enabled", EnabledJson(enabled)}});
}

bool ParseSettingsBody(std::string_view body, std::map<int, std::string>& entries) {
  entries.clear();
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  boost::system::error_code error;
  const json::value value = json::parse(body, error);
  if (error || !value.is_object()) return false;
  const json::value* values = value.as_object().if_contains("values");
  if (values == nullptr) return true;
  if (!values->is_object()) return false;
  for (const auto& [key, entry] : values->as_object()) {
    int id = 0;
    const auto [end, parsed] = std::from_chars(key.data(), key.data() + key.size(), id);
    if (parsed != std::errc() || end != key.data() + key.size()) return false;
    if (entry.is_string()) {
      entries[id] = std::string(entry.as_string());
    } else if (entry.is_bool()) {
      entries[id] = std::string(1, entry.as_bool() ? '1' : '0');
    } else if (entry.is_number()) {
      entries[id] = json::serialize(entry);  // a fraction fails the integer check like a typed one
    } else {
      return false;
    }
  }
  return true;
}
