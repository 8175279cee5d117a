#pragma once
// The JSON texts of the web monitor: the state snapshot and the typed events, built from the view
// models. Every text is made valid UTF-8 first, since names and agents come from the network.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ConsoleModel.h"
#include "ui/FrameView.h"
#include "ui/GridModel.h"
#include "ui/MonitorServer.h"
#include "ui/StatisticsView.h"

struct LogRow;
class MapMonitor;
struct TreeNode;

// Everything a snapshot shows.
struct MonitorView {
  std::string title;
  bool running = false;
  ToolbarState toolbar;
  const PageTexts* texts = nullptr;
  const ProgressBar* progress = nullptr;
  std::vector<std::string> columns;
  std::vector<std::string> tabs;  // captions of the view tabs
  const std::map<uint32_t, GridRow>* grid = nullptr;
  std::vector<StatisticsField> stats;
  const std::vector<LogRow>* log = nullptr;
  const std::vector<TreeNode>* tree = nullptr;
  const MapMonitor* map = nullptr;
};

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// GET /api/state: {title, running, columns, tabs, grid, stats, log, tree}.
std::string StateJson(const MonitorView& view);
// The first message on the event socket: the state with "type": "snapshot", but for the grid rows:
// "grid" is empty and "gridTotal" counts the rows (the window's rows follow in a grid message).
std::string SnapshotMessage(const MonitorView& view);
// {"type": "log", "cleared", "row"}: one listed line; cleared when the list was emptied first.
std::string LogMessage(const LogRow& row, bool cleared);
// {"type": "grid", "total", "first", "rows"}: the rows of one window (first to first + count, in
// socket order; fewer at the end) and the number of all rows.
std::string GridMessage(const std::map<uint32_t, GridRow>& rows, GridWindow window);
// Reads {"type": "view", "first": F, "count": N} of a page naming the grid rows it shows; a count
// over GridWindow::kMaxCount is cut to it. False when the text is not such a message.
bool ParseGridView(std::string_view text, GridWindow& window);
std::string StatsMessage(const std::vector<StatisticsField>& stats);
std::string TreeMessage(const std::vector<TreeNode>& roots);
// {"type": "title", "title", "running", "toolbar"}: after a start or stop, or a link indicator change.
std::string TitleMessage(const std::string& title, bool running, const ToolbarState& toolbar);
// {"type": "progress", ...}: the status-bar progress.
std::string ProgressMessage(const ProgressBar& progress);
// {"type": "station", "socket", "name", "titles", "cells"}: the station dialog shown.
std::string StationMessage(const StationView& station);
// {"type": "notice", "text"}: a message for the operator.
std::string NoticeMessage(const std::string& text);

// Reads {"socket": N} of a close request; false when the body is not such an object.
bool ParseSocketBody(std::string_view body, uint32_t& socket);

// {"type": "console", "socket", "name", "shown", "binary", "decoder", "lines"}: the debug console.
std::string ConsoleMessage(const ConsoleModel& console);
// What a console request carries: {"text"} for send, {"binary", "decoder"} for the modes. A missing
// field leaves its value; false when the body is not an object or a field has the wrong type.
struct ConsoleRequest {
  std::string text;
  std::string name;  // open: the user name of the connection (a double-clicked log row)
  bool binary = false;
  bool decoder = false;
};
bool ParseConsoleBody(std::string_view body, ConsoleRequest& request);
