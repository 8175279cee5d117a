#pragma once
// The monitor events of the caster feeding the web monitor: the shell's output log and workspace
// tree, the connection grid and the statistics, pushed to the event sockets of the monitor server.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/ShellMonitor.h"
#include "ui/ConsoleModel.h"
#include "ui/GridModel.h"
#include "ui/MonitorJson.h"
#include "ui/SettingsForm.h"
#include "ui/map/MapMonitor.h"

class MonitorServer;

class WebMonitor : public ShellMonitor {
 public:
  // What the snapshot shows beside the models; set once the caster's shared state exists.
  struct Sources {
    std::function<std::string()> title;
    std::function<bool()> running;
    std::function<int()> peakUsers;  // SYSTEMSERVER "TOTAL"
    std::function<std::array<int, kIndicatorLinks>()> links;  // connected flags of link slots 0 to 3
    // The client-table entry of a socket, or null: rows are brought up to date from it when shown.
    std::function<ClientEntry*(uint32_t socket)> entry;
  };

  WebMonitor(OutputLog& log, WorkspaceTree& tree, const Clock& clock);

  void SetSources(Sources sources) { sources_ = std::move(sources); }
  void SetColumns(std::vector<std::string> columns) { columns_ = std::move(columns); }
  void SetStatisticsLabels(DialogTexts labels) { statisticsLabels_ = std::move(labels); }
  void SetMounts(const MountList* mounts) { grid_.SetMounts(mounts); }
  void SetPageTexts(PageTexts texts) { texts_ = std::move(texts); }
  // The captions of the view tabs (text 62449) and the translated texts of the settings form.
  void SetTabs(std::vector<std::string> tabs) { tabs_ = std::move(tabs); }
  void SetSettingsTexts(DialogTexts texts) { settingsTexts_ = std::move(texts); }
  // The server that events go to; null stops them.
  void SetServer(MonitorServer* server) { server_ = server; }

  void OnGrid(int code, ClientEntry& entry) override;
  void OnStatistics(const Statistics& statistics) override;
  void OnNotice(const std::string& text) override;
  void OnReceived(uint32_t socket, const uint8_t* bytes, size_t count) override;
  void OnProgress(int code, int value, const std::string& text) override;
  void OnMap(int code, const ClientEntry* entry) override;

  // The station dialog (1532) on a connection, shown on every monitor page.
  void ShowStation(ClientEntry& entry);

  // The debug console; its changes are sent once per tick, an opening at once.
  ConsoleModel& console() { return console_; }
  void PublishConsole();

  // Once per tick: one batch of grid changes, the statistics, and the tree and title when changed.
  void OnTick();
  // Sends the title when it, the running state or a link indicator changed; a changed running state
  // also sends the settings form's enabling rules (message 1528 code 100).
  void PublishTitle();
  // After a start or stop: title, tree and statistics at once rather than at the next tick.
  void PublishServiceState();

  // The settings form and its JSON (GET /api/settings and the answers of its actions).
  SettingsForm& settingsForm() { return settingsForm_; }
  std::string SettingsState(std::vector<SettingsFieldError> errors = {}) const;

  MonitorView View() const;
  // The grid message of one window (the rows a page shows), its rows brought up to date first.
  std::string GridWindowMessage(GridWindow window);
  // Brings a row, or every row (for GET /api/state), up to date when its refresh is due. A row's
  // refresh waits until a page shows it: composing ten thousand rows a second nobody sees is waste.
  void RefreshRow(uint32_t socket);
  void RefreshAllRows();
  const GridModel& grid() const { return grid_; }
  // The map view; its changes go out once per tick.
  MapMonitor& map() { return map_; }

 private:
  bool HasClients() const;
  // Composes the row of a connection whose refresh is due.
  void Refresh(ClientEntry& entry);
  ToolbarState Toolbar() const;
  void PublishStatistics();

  const OutputLog& log_;
  const WorkspaceTree& tree_;
  const Clock& clock_;
  Sources sources_;
  std::vector<std::string> columns_;
  std::vector<std::string> tabs_;
  DialogTexts settingsTexts_ = SettingsFormTexts();
  SettingsForm settingsForm_;
  DialogTexts statisticsLabels_ = StatisticsDialogTexts();
  GridModel grid_;
  Statistics statistics_;
  MonitorServer* server_ = nullptr;
  bool treeChanged_ = false;
  bool refreshesWaiting_ = false;  // a row's counters changed since the last tick
  ConsoleModel console_;
  bool consoleChanged_ = false;
  std::string sentTitle_;
  bool sentRunning_ = false;
  ToolbarState sentToolbar_;
  PageTexts texts_;
  ProgressBar progress_;
  bool progressChanged_ = false;
  MapMonitor map_;
};
