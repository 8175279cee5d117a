#include "ui/MonitorJson.h"

#include <algorithm>
#include <boost/json.hpp>
#include <iterator>

#include "app/OutputLog.h"
#include "app/WorkspaceTree.h"
#include "core/Utf8.h"
#include "ui/JsonTexts.h"
#include "ui/map/MapJson.h"

namespace json = boost::json;

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

json::string Text(std::string_view text) {
  const std::string valid = ValidUtf8(text);
  return json::string(valid);
}

json::array Strings(const std::vector<std::string>& texts) {
  json::array array;
  for (const auto& text : texts) array.emplace_back(Text(text));
  return array;
}

json::object RowJson(const GridRow& row) {
  json::array cells;
  for (const auto& cell : row.cells) cells.emplace_back(Text(cell));
  return {{"socket", row.socket}, {"icon", row.icon}, {"cells", std::move(cells)}};
}

json::array StatsJson(const std::vector<StatisticsField>& stats) {
  json::array array;
  for (const auto& field : stats) {
    array.emplace_back(
        json::object{{"control", field.control}, {"label", Text(field.label)}, {"text", Text(field.text)}});
  }
  return array;
}

json::object LogRowJson(const LogRow& row) {
  return {{"time", Text(row.timeText)},
          {"name", Text(row.name)},
          {"text", Text(row.info)},
          {"colour", row.colour},
          {"sequence", row.sequence}};
}

const char* KindName(TreeNodeKind kind) {
  switch (kind) {
    case TreeNodeKind::kMultiBase:
      return "multiBase";
    case TreeNodeKind::kFormatGroup:
      return "group";
    case TreeNodeKind::kBase:
      return "base";
    case TreeNodeKind::kLinkedServer:
      return "server";
    case TreeNodeKind::kMountpoint:
      return "mountpoint";
    case TreeNodeKind::kDescription:
      return "description";
  }
  return "";
}

json::array TreeJson(const std::vector<TreeNode>& nodes) {
  json::array array;
  for (const auto& node : nodes) {
    array.emplace_back(json::object{{"kind", KindName(node.kind)},
                                    {"text", Text(node.text)},
                                    {"expanded", node.expanded},
                                    {"checkBoxes", node.checkBoxes},
                                    {"children", TreeJson(node.children)}});
  }
  return array;
}

json::object ToolbarJson(const ToolbarState& toolbar) {
  json::array links;
  for (bool on : toolbar.links) links.emplace_back(on);
  return {{"start", toolbar.startEnabled}, {"stop", toolbar.stopEnabled}, {"links", std::move(links)}};
}

json::object TextsJson(const PageTexts& texts) {
  return {{"console", DialogJson(texts.console)}, {"station", DialogJson(texts.station)}};
}

json::object ProgressJson(const ProgressBar& progress) {
  return {{"created", progress.created()},   {"visible", progress.visible()},
          {"range", progress.range()},       {"position", progress.position()},
          {"pane", Text(progress.paneText())}, {"text", Text(progress.barText())}};
}

json::object StateObject(const MonitorView& view, bool gridRows = true) {
  json::array grid;
  if (view.grid != nullptr && gridRows) {
    for (const auto& [socket, row] : *view.grid) grid.emplace_back(RowJson(row));
  }
  json::array log;
  if (view.log != nullptr) {
    for (const auto& row : *view.log) log.emplace_back(LogRowJson(row));
  }
  return {{"title", Text(view.title)},
          {"running", view.running},
          {"toolbar", ToolbarJson(view.toolbar)},
          {"texts", view.texts != nullptr ? TextsJson(*view.texts) : json::object()},
          {"progress", view.progress != nullptr ? ProgressJson(*view.progress) : json::object()},
          {"columns", Strings(view.columns)},
          {"tabs", Strings(view.tabs)},
          {"grid", std::move(grid)},
          {"stats", StatsJson(view.stats)},
          {"log", std::move(log)},
          {"tree", view.tree != nullptr ? TreeJson(*view.tree) : json::array()}};
}

// The snapshot with the map view's part.
json::object WithMap(json::object state, const MonitorView& view) {
  if (view.map != nullptr) state["map"] = MapSnapshotJson(*view.map);
  return state;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string StateJson(const MonitorView& view) { return json::serialize(WithMap(StateObject(view), view)); }

std::string SnapshotMessage(const MonitorView& view) {
  json::object message = WithMap(StateObject(view, false), view);
  message["type"] = "snapshot";
  message["gridTotal"] = view.grid != nullptr ? view.grid->size() : 0;
  return json::serialize(message);
}

std::string LogMessage(const LogRow& row, bool cleared) {
  return json::serialize(json::object{{"type", "log"}, {"cleared", cleared}, {"row", LogRowJson(row)}});
}

std::string GridMessage(const std::map<uint32_t, GridRow>& rows, GridWindow window) {
  json::array listed;
  auto it = rows.begin();
  // Walking to the first row is cheap beside composing the rows (ten thousand steps at most).
  std::advance(it, std::min(window.first, rows.size()));
  for (size_t n = 0; n < window.count && it != rows.end(); ++n, ++it) listed.emplace_back(RowJson(it->second));
  return json::serialize(json::object{
      {"type", "grid"}, {"total", rows.size()}, {"first", window.first}, {"rows", std::move(listed)}});
}

bool ParseGridView(std::string_view text, GridWindow& window) {
  boost::system::error_code error;
  const json::value value = json::parse(text, error);
  if (error || !value.is_object()) return false;
  const json::object& object = value.as_object();
  const json::value* type = object.if_contains("type");
  if (type == nullptr || !type->is_string() || type->as_string() != "view") return false;
  const auto whole = [&](const char* key, size_t& out) {
    const json::value* field = object.if_contains(key);
    if (field == nullptr) return false;
    if (field->is_uint64()) out = field->as_uint64();
    else if (field->is_int64() && field->as_int64() >= 0) out = static_cast<size_t>(field->as_int64());
    else return false;
    return true;
  };
  size_t first = 0;
  size_t count = 0;
  if (!whole("first", first) || !whole("count", count)) return false;
  window.first = first;
  window.count = std::min(count, GridWindow::kMaxCount);
  return true;
}

std::string StatsMessage(const std::vector<StatisticsField>& stats) {
  return json::serialize(json::object{{"type", "stats"}, {"stats", StatsJson(stats)}});
}

std::string TreeMessage(const std::vector<TreeNode>& roots) {
  return json::serialize(json::object{{"type", "tree"}, {"tree", TreeJson(roots)}});
}

std::string TitleMessage(const std::string& title, bool running, const ToolbarState& toolbar) {
  return json::serialize(json::object{
      {"type", "title"}, {"title", Text(title)}, {"running", running}, {"toolbar", ToolbarJson(toolbar)}});
}

std::string ProgressMessage(const ProgressBar& progress) {
  json::object message = ProgressJson(progress);
  message["type"] = "progress";
  return json::serialize(message);
}

std::string StationMessage(const StationView& station) {
  return json::serialize(json::object{{"type", "station"},
                                      {"socket", station.socket},
                                      {"name", Text(station.name)},
                                      {"titles", Strings(station.titles)},
                                      {"cells", Strings(station.cells)}});
}

std::string NoticeMessage(const std::string& text) {
  return json::serialize(json::object{{"type", "notice"}, {"text", Text(text)}});
}

bool ParseSocketBody(std::string_view body, uint32_t& socket) {
  boost::system::error_code error;
  const json::value value = json::parse(body, error);
  if (error || !value.is_object()) return false;
  const json::value* field = value.as_object().if_contains("socket");
  if (field == nullptr) return false;
  int64_t number = -1;
  if (field->is_int64()) number = field->as_int64();
  if (field->is_uint64() && field->as_uint64() <= UINT32_MAX)
    number = static_cast<int64_t>(field->as_uint64());
  if (number < 0 || number > UINT32_MAX) return false;
  socket = static_cast<uint32_t>(number);
  return true;
}

std::string ConsoleMessage(const ConsoleModel& console) {
  json::array lines;
  for (const std::string& line : console.lines()) lines.emplace_back(ValidUtf8(line));
  json::object message{{"type", "console"},
                       {"socket", console.socket()},
                       {"name", ValidUtf8(console.userName())},
                       {"shown", console.shown()},
                       {"binary", console.binary()},
                       {"decoder", console.decoder()}};
  message["lines"] = std::move(lines);
  return json::serialize(message);
}

bool ParseConsoleBody(std::string_view body, ConsoleRequest& request) {
  boost::system::error_code error;
  const json::value value = json::parse(body, error);
  if (error || !value.is_object()) return false;
  const json::object& object = value.as_object();
  for (const auto& [field, target] : {std::pair{"text", &request.text}, std::pair{"name", &request.name}}) {
    if (const json::value* value = object.if_contains(field)) {
      if (!value->is_string()) return false;
      *target = std::string(value->as_string());
    }
  }
  for (const auto& [name, target] : {std::pair{"binary", &request.binary}, std::pair{"decoder", &request.decoder}}) {
    if (const json::value* flag = object.if_contains(name)) {
      if (!flag->is_bool()) return false;
      *target = flag->as_bool();
    }
  }
  return true;
}

json::string JsonText(std::string_view text) { return Text(text); }

json::object DialogJson(const DialogTexts& dialog) {
  json::object controls;
  for (const auto& control : dialog.controls) controls[std::to_string(control.id)] = Text(control.text);
  return {{"caption", Text(dialog.caption)}, {"controls", std::move(controls)}};
}
