#include "ui/WebMonitor.h"

#include <algorithm>
#include <iterator>

#include "core/ClientEntry.h"
#include "ui/MonitorServer.h"
#include "ui/SettingsFormJson.h"

WebMonitor::WebMonitor(OutputLog& log, WorkspaceTree& tree, const Clock& clock)
    : ShellMonitor(log, tree), log_(log), tree_(tree), clock_(clock) {
  log.SetListener([this](const OutputLog::Change& change) {
    if (change.added != nullptr && HasClients())
      server_->Broadcast(LogMessage(*change.added, change.cleared));
  });
  tree.SetListener([this] { treeChanged_ = true; });
  console_.SetChanged([this] { consoleChanged_ = true; });
}

void WebMonitor::OnReceived(uint32_t socket, const uint8_t* bytes, size_t count) {
  console_.OnReceived(socket, bytes, count);
}

void WebMonitor::PublishConsole() {
  consoleChanged_ = false;
  if (HasClients()) server_->Broadcast(ConsoleMessage(console_));
}

bool WebMonitor::HasClients() const { return server_ != nullptr && server_->EventClients() > 0; }

void WebMonitor::OnGrid(int code, ClientEntry& entry) {
  // Every read and write reports its counters; most come between ticks and are dropped, so the
  // clock is read only for the others.
  if (code == GridModel::kUpdate && entry.gridRefreshDue == 0) return;
  // A row's cells are composed only when a page shows it (RefreshRow), not for every connection every
  // second; the refresh stays due until then. The tick sends the pages' windows when one is waiting.
  if (code == GridModel::kUpdate) {
    if (HasClients()) refreshesWaiting_ = true;
    return;
  }
  grid_.Apply(code, entry, clock_.Now());
}

void WebMonitor::Refresh(ClientEntry& entry) {
  // The clock is read only for a row whose refresh is due.
  if (entry.gridRefreshDue != 0) grid_.Apply(GridModel::kUpdate, entry, clock_.Now());
}

void WebMonitor::RefreshRow(uint32_t socket) {
  if (ClientEntry* entry = sources_.entry ? sources_.entry(socket) : nullptr) Refresh(*entry);
}

void WebMonitor::RefreshAllRows() {
  // A refresh changes a row's cells, never which rows there are.
  for (const auto& [socket, row] : grid_.rows()) RefreshRow(socket);
}

std::string WebMonitor::GridWindowMessage(GridWindow window) {
  auto it = grid_.rows().begin();
  std::advance(it, std::min(window.first, grid_.rows().size()));
  for (size_t n = 0; n < window.count && it != grid_.rows().end(); ++n, ++it) RefreshRow(it->first);
  return GridMessage(grid_.rows(), window);
}

void WebMonitor::OnStatistics(const Statistics& statistics) { statistics_ = statistics; }

void WebMonitor::OnNotice(const std::string& text) {
  if (HasClients()) server_->Broadcast(NoticeMessage(text));
}

void WebMonitor::OnProgress(int code, int value, const std::string& text) {
  if (progress_.Apply(code, value, text)) progressChanged_ = true;
}

void WebMonitor::OnMap(int code, const ClientEntry* entry) { map_.view().OnMap(code, entry); }

void WebMonitor::ShowStation(ClientEntry& entry) {
  Refresh(entry);
  StationView station;
  station.socket = entry.socket;
  station.name = entry.userName;
  station.titles = columns_;
  if (const GridRow* row = grid_.Find(entry.socket)) station.cells.assign(row->cells.begin(), row->cells.end());
  if (HasClients()) server_->Broadcast(StationMessage(station));
}

void WebMonitor::OnTick() {
  GridModel::Changes changes = grid_.TakeChanges();  // taken even without clients, so none pile up
  if (!HasClients()) {
    map_.view().TakeChanges();
    return;
  }
  if (const std::string map = map_.TakeMessage(); !map.empty()) server_->Broadcast(map);
  if (!changes.Empty() || refreshesWaiting_) server_->BroadcastGrid();
  refreshesWaiting_ = false;
  if (consoleChanged_) PublishConsole();
  PublishStatistics();
  if (treeChanged_) server_->Broadcast(TreeMessage(tree_.roots()));
  treeChanged_ = false;
  if (progressChanged_) server_->Broadcast(ProgressMessage(progress_));
  progressChanged_ = false;
  PublishTitle();
}

void WebMonitor::PublishStatistics() {
  const int peak = sources_.peakUsers ? sources_.peakUsers() : 0;
  server_->Broadcast(StatsMessage(StatisticsFields(statistics_, peak, clock_.Now(), statisticsLabels_)));
}

void WebMonitor::PublishServiceState() {
  PublishTitle();
  if (!HasClients()) return;
  server_->Broadcast(TreeMessage(tree_.roots()));
  treeChanged_ = false;
  PublishStatistics();
}

ToolbarState WebMonitor::Toolbar() const {
  const bool running = sources_.running && sources_.running();
  return MakeToolbar(running, sources_.links ? sources_.links() : std::array<int, kIndicatorLinks>{});
}

void WebMonitor::PublishTitle() {
  const std::string title = sources_.title ? sources_.title() : std::string();
  const bool running = sources_.running && sources_.running();
  const ToolbarState toolbar = Toolbar();
  if (title == sentTitle_ && running == sentRunning_ && toolbar == sentToolbar_) return;
  const bool runningChanged = running != sentRunning_;
  sentTitle_ = title;
  sentRunning_ = running;
  sentToolbar_ = toolbar;
  if (!HasClients()) return;
  server_->Broadcast(TitleMessage(title, running, toolbar));
  if (runningChanged) server_->Broadcast(SettingsEventMessage(settingsForm_.Enabled(running), running));
}

std::string WebMonitor::SettingsState(std::vector<SettingsFieldError> errors) const {
  SettingsFormView view;
  view.texts = settingsTexts_;
  view.values = &settingsForm_.values();
  view.running = sources_.running && sources_.running();
  view.enabled = settingsForm_.Enabled(view.running);
  view.errors = std::move(errors);
  return SettingsFormJson(view);
}

MonitorView WebMonitor::View() const {
  MonitorView view;
  view.title = sources_.title ? sources_.title() : std::string();
  view.running = sources_.running && sources_.running();
  view.toolbar = Toolbar();
  view.texts = &texts_;
  view.progress = &progress_;
  view.columns = columns_;
  view.tabs = tabs_;
  view.grid = &grid_.rows();
  view.stats = StatisticsFields(statistics_, sources_.peakUsers ? sources_.peakUsers() : 0, clock_.Now(),
                                statisticsLabels_);
  view.log = &log_.rows();
  view.tree = &tree_.roots();
  view.map = &map_;
  return view;
}
