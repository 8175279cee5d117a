#include "app/Application.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string_view>
#include <utility>

#include "app/CasterSteps.h"
#include "app/ConfigCheckCommand.h"
#include "app/HostInfo.h"
#include "app/KavroGyBl.h"
#include "app/LanguageInstall.h"
#include "app/Locale.h"
#include "app/MainFrame.h"
#include "app/OutputLog.h"
#include "app/ProgramLayout.h"
#include "app/Settings.h"
#include "app/SingleInstance.h"
#include "app/TlsContext.h"
#include "app/WorkspaceTree.h"
#include "core/CasterHandlers.h"
#include "core/CasterServices.h"
#include "core/Housekeeping.h"
#include "core/LocalTime.h"
#include "core/Messages.h"
#include "core/StrFormat.h"
#include "db/AccountAdministration.h"
#include "db/AccountDatabase.h"
#include "db/KavroDatabase.h"
#include "gnss/DecoderContext.h"
#include "link/ServerLinks.h"
#include "link/UpstreamReport.h"
#include "reports/IpLocation.h"
#include "ui/AccountsApi.h"
#include "ui/FrameView.h"
#include "ui/GridModel.h"
#include "ui/HttpAccess.h"
#include "ui/MetricsSource.h"
#include "ui/MonitorServer.h"
#include "ui/SettingsActions.h"
#include "ui/SettingsFormJson.h"
#include "ui/StatisticsView.h"
#include "ui/WebMonitor.h"
#include "ui/WorkAreaPage.h"
#include "ui/map/MapLoader.h"
#include "ui/map/MapStartup.h"

namespace {

constexpr int kTextProgramName = 62451;
constexpr int kTextTabs = 62449;  // the view tabs: settings, grid, map

// The settings form's actions: save; save and start the service; stop it. Each answers with the
// form's state, after a save with the fields that failed their check.
SettingsAnswer SettingsAction(CKavroGyBl& gybl, CMainFrame& frame, WebMonitor& monitor,
                              std::string_view action, std::string_view body) {
  const bool running = gybl.serviceRunning != 0;
  SettingsForm& form = monitor.settingsForm();
  if (!form.initialised()) form.Initialise(gybl.settings, gybl.clock().Now());
  if (action == "stop") {
    if (!running) return {409, R"({"error":"service stopped"})"};
    frame.StopService();
    monitor.PublishServiceState();
    return {200, monitor.SettingsState()};
  }
  if (action != "save" && action != "start") return {404, R"({"error":"not found"})"};
  if (action == "start" && running) return {409, R"({"error":"service running"})"};
  std::map<int, std::string> entries;
  if (!ParseSettingsBody(body, entries)) return {400, R"({"error":"body needs values"})"};
  std::vector<SettingsFieldError> errors = SaveSettingsForm(
      form, entries, running, gybl.settings, gybl.settingsFile, gybl.programDirectory, gybl.clock().Now());
  if (action == "start") {
    frame.StartService();  // as started by the user, with the ports just saved
    monitor.PublishServiceState();
  }
  return {200, monitor.SettingsState(std::move(errors))};
}

// The operator's actions of the web monitor, carried out on the main thread.
MonitorHandlers MonitorActions(CKavroGyBl& gybl, CMainFrame& frame, WebMonitor& monitor) {
  MonitorHandlers handlers;
  handlers.state = [&monitor] {
    monitor.RefreshAllRows();
    return StateJson(monitor.View());
  };
  handlers.snapshot = [&monitor] { return SnapshotMessage(monitor.View()); };
  handlers.gridWindow = [&monitor](GridWindow window) { return monitor.GridWindowMessage(window); };
  handlers.startService = [&gybl, &frame, &monitor] {
    if (gybl.serviceRunning != 0) return false;
    const bool started = frame.StartService() != 0;
    monitor.PublishServiceState();
    return started;
  };
  handlers.stopService = [&gybl, &frame, &monitor] {
    if (gybl.serviceRunning == 0) return false;
    frame.StopService();
    monitor.PublishServiceState();
    return true;
  };
  handlers.openConsole = [&gybl, &monitor](uint32_t socket) {
    const ClientEntry* entry = FindClient(gybl.clientTable, socket);
    if (entry == nullptr) return false;
    monitor.console().Open(entry->userName, socket);
    monitor.PublishConsole();
    return true;
  };
  handlers.openConsoleByName = [&gybl, &monitor](const std::string& userName) {
    for (const auto& [socket, entry] : gybl.clientTable) {
      if (entry.userName != userName) continue;
      monitor.console().Open(entry.userName, socket);
      monitor.PublishConsole();
      return true;
    }
    return false;
  };
  // The typed text goes to the watched connection as typed (message 1226); a gone one gets nothing.
  handlers.consoleSend = [&gybl, &monitor](const std::string& typed) {
    const std::string text = ConsoleModel::SendText(typed);
    const uint32_t socket = monitor.console().socket();
    if (!text.empty() && FindClient(gybl.clientTable, socket) != nullptr) gybl.SendText(socket, text);
  };
  handlers.consoleModes = [&monitor](bool binary, bool decoder) {
    monitor.console().SetBinary(binary);
    monitor.console().SetDecoder(decoder);
    monitor.PublishConsole();
  };
  handlers.consoleClear = [&monitor] {
    monitor.console().Clear();
    monitor.PublishConsole();
  };
  handlers.openStation = [&gybl, &monitor](uint32_t socket) {
    monitor.RefreshRow(socket);
    const GridRow* row = monitor.grid().Find(socket);
    if (row == nullptr) return false;
    for (auto& [id, entry] : gybl.clientTable) {
      if (entry.userName != row->cells[GridModel::kUserColumn]) continue;
      monitor.OnMap(kMapLocate, &entry);
      monitor.ShowStation(entry);
      return true;
    }
    return false;
  };
  // The toolbar's user administration opens the account page; the accounts are recounted first.
  handlers.accountAdministration = [&gybl] {
    gybl.steps().CountUsers();
    gybl.SendStatistics();
  };
  handlers.settingsState = [&gybl, &monitor] {
    SettingsForm& form = monitor.settingsForm();
    if (!form.initialised()) form.Initialise(gybl.settings, gybl.clock().Now());
    return monitor.SettingsState();
  };
  handlers.settingsAction = [&gybl, &frame, &monitor](std::string_view action, std::string_view body) {
    return SettingsAction(gybl, frame, monitor, action, body);
  };
  handlers.map = [&monitor](std::string_view method, std::string_view target, std::string_view body) {
    return monitor.map().Request(method, target, body);
  };
  handlers.closeConnection = [&gybl, &frame](uint32_t socket) {
    if (FindClient(gybl.clientTable, socket) == nullptr) return false;
    frame.OnSocketEvent(socket, kFdClose);
    return true;
  };
  return handlers;
}

// Starts the web monitor on MONITOR BIND:PORT (PORT 0 leaves it off); a refusal is a red log line.
void StartMonitor(CKavroGyBl& gybl, const CMainFrame& frame, MonitorServer& server, WebMonitor& monitor) {
  gybl.LoadTexts(kTextProgramName);
  const std::string programName = gybl.textList[0];
  monitor.SetSources({[&frame, programName] {
                        const std::string& title = frame.windowTitle();
                        return title.empty() ? programName : title;
                      },
                      [&gybl] { return gybl.serviceRunning != 0; }, [&gybl] { return gybl.settings.total; },
                      [&gybl] {
                        std::array<int, kIndicatorLinks> connected{};
                        for (int i = 0; i < kIndicatorLinks; ++i) connected[i] = gybl.linkSlots[i].connected;
                        return connected;
                      },
                      [&gybl](uint32_t socket) -> ClientEntry* {
                        const auto it = gybl.clientTable.find(socket);
                        return it == gybl.clientTable.end() ? nullptr : &it->second;
                      }});
  const Settings& settings = gybl.settings;
  if (settings.monitorPort == 0) return;
  std::error_code ignored;
  const std::string executableDirectory =
      std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().string();
  const char* webOverride = std::getenv("KAVRO_WEB_ROOT");
  MonitorOptions options;
  options.bind = settings.monitorBind;
  options.port = settings.monitorPort;
  options.password = settings.monitorPassword;
  options.imageOrigin = TileOrigin(settings.monitorTileUrl);
  options.tls = settings.monitorTls != 0;
  options.tlsCert = TlsFilePath(gybl.programDirectory, settings.tlsCert);
  options.tlsKey = TlsFilePath(gybl.programDirectory, settings.tlsKey);
  options.webRoot =
      FindWebRoot(webOverride != nullptr ? webOverride : "", executableDirectory, gybl.programDirectory);
  std::string error;
  if (!server.Start(options, error)) {
    gybl.Log(error, kLogRed);
    return;
  }
  monitor.SetServer(&server);
  if (options.webRoot.empty()) gybl.Log("Monitor: no web folder with index.html found", kLogRed);
  const bool v6 = options.bind.find(':') != std::string::npos;
  gybl.Log(StrFormat(v6 ? "Monitor %s://[%s]:%d/" : "Monitor %s://%s:%d/", options.tls ? "https" : "http",
                     options.bind.c_str(), server.port()),
           kLogNormal);
}

// What the settings readers pass over or read otherwise than written, in red, so that a garbled file is
// seen at start; the full list is the one of --check-config.
void LogConfigFindings(CKavroGyBl& gybl) {
  constexpr size_t kShownFindings = 20;
  constexpr size_t kShownBytes = 200;
  const std::vector<std::string> lines = ConfigFindingLines(gybl.programDirectory);
  for (size_t i = 0; i < lines.size() && i < kShownFindings; ++i)
    gybl.Log(lines[i].substr(0, kShownBytes), kLogRed);
  if (lines.size() > kShownFindings) {
    gybl.Log(
        StrFormat("%zu more settings findings: KavroServer --check-config", lines.size() - kShownFindings),
        kLogRed);
  }
}

}  // namespace

int RunCaster(const std::string& programDirectory) {
  CreateProgramDirectories(programDirectory);

  SystemClock clock;
  OutputLog outputLog(clock, programDirectory + "LOG", stdout);
  WorkspaceTree tree;
  WebMonitor monitor(outputLog, tree, clock);

  SingleInstance instance;
  if (!instance.Acquire(LockFilePath(programDirectory))) {
    std::fprintf(stderr, "Other User Runing\n");
    monitor.OnLogLine(LogRecord{{}, "Other User Runing", kLogRed});
    return 1;
  }
  if (const std::string error = InstallLanguageFile(programDirectory); !error.empty())
    monitor.OnLogLine(LogRecord{{}, error, kLogRed});

  NL_QQwry ipLocation;
  ipLocation.Open(IpLocationFilePath(programDirectory));  // a missing file leaves locations empty
  CasterSteps steps(&ipLocation, SystemLanguageIsChinese());

  const std::string settingsFile = SettingsFilePath(programDirectory);
  const std::string relayFile = RelayFilePath(programDirectory);
  CKavroGyBl gybl(ReadSettings(settingsFile, relayFile), clock, monitor, steps);
  gybl.programDirectory = programDirectory;
  gybl.settingsFile = settingsFile;
  gybl.relayFile = relayFile;
  gybl.buildNumber = BuildNumberFromDate(KAVRO_BUILD_DATE);
  gybl.versionText = VersionText(gybl.buildNumber);
  gybl.languageFile = LanguageFilePath(programDirectory, gybl.settings.language);
  monitor.SetSettings(&gybl.settings);
  monitor.SetMounts(&gybl.mounts);
  gybl.LoadTexts(kTextGridColumns);
  monitor.SetColumns(GridColumnTitles(gybl.textList));
  monitor.SetStatisticsLabels(gybl.applyLanguageToDialog(kStatisticsDialog, StatisticsDialogTexts()));
  monitor.SetSettingsTexts(gybl.applyLanguageToDialog(kSettingsDialog, SettingsFormTexts()));
  gybl.LoadTexts(kTextTabs);
  monitor.SetTabs({gybl.textList[0], gybl.textList[1], gybl.textList[2]});
  PageTexts pageTexts;
  pageTexts.console = gybl.applyLanguageToDialog(kConsoleDialog, ConsoleDialogTexts());
  pageTexts.station = gybl.applyLanguageToDialog(kStationDialog, StationDialogTexts());
  monitor.SetPageTexts(std::move(pageTexts));
  if (gybl.settings.languageSet == "SET") gybl.exportTexts();

  gybl.localAddresses = CollectLocalAddresses();
  LogConfigFindings(gybl);
  boost::asio::io_context io;
  // Database results that the worker threads produce are handled on the main thread.
  KavroDatabase database(gybl, [&io](std::function<void()> work) { boost::asio::post(io, std::move(work)); });
  AccountDatabase accounts(gybl, database);
  steps.Attach(&database);
  steps.AttachAccounts(&accounts);
  CasterServices services(gybl, accounts, io.get_executor());
  // Decoder lines go to the debug console of the monitor; positions to the records.
  DecoderContext decoders{monitor, monitor.console(), accounts, gybl.settings.flags.saveGga};
  CasterHandlers handlers(gybl, accounts, services, decoders);
  // The sixteen server link slots; the tick connects them while the service runs.
  ServerLinks links(gybl, io.get_executor());
  steps.AttachLinks(&links);
  CMainFrame frame(io, gybl, handlers);
  accounts.SetResumer([&frame](uint32_t socket) { frame.ResumeRequest(socket); });
  database.OpenLocalDatabase();
  accounts.areas.LoadWorkAreas();
  MapLoader mapLoader([&io](std::function<void()> work) { boost::asio::post(io, std::move(work)); });
  StartMapView(gybl, database, accounts.areas, monitor.map(), monitor, mapLoader);

  // The work-area dialogs; the map shows the selected area while they are open, all areas otherwise.
  WorkAreaPage areaPage(accounts.areas, gybl.workAreaList);
  areaPage.SetTexts(gybl.applyLanguageToDialog(kWorkAreaDialog, WorkAreaDialogTexts()),
                    gybl.applyLanguageToDialog(kWorkAreaNameDialog, WorkAreaNameDialogTexts()));
  areaPage.SetChanged([&] {
    AreaBounds bounds{};
    if (!areaPage.dialog().ShownRectangle(bounds)) return ShowWorkAreas(gybl, accounts.areas, monitor.map());
    const std::string name = areaPage.dialog().form().selected;
    monitor.map().view().SetWorkAreas({{name, bounds[0], bounds[1], bounds[2], bounds[3]}});
  });
  MonitorHandlers monitorHandlers = MonitorActions(gybl, frame, monitor);
  monitorHandlers.metrics = [&gybl, &database] { return MetricsText(GatherMetrics(gybl, &database)); };
  monitorHandlers.areas = [&areaPage](std::string_view method, std::string_view target, std::string_view body) {
    return areaPage.Request(method, target.substr(0, target.find('?')), body);
  };
  AccountAdministration accountAdmin(gybl, database, accounts.accounts);
  monitorHandlers.accounts = [&gybl, &accountAdmin](std::string_view method, std::string_view target,
                                                    std::string_view body,
                                                    std::function<void(SettingsAnswer)> reply) {
    AnswerAccounts(
        accountAdmin, [&gybl] { return OnlineUserNames(gybl.clientTable); }, method, target, body,
        std::move(reply));
  };
  MonitorServer monitorServer(io, std::move(monitorHandlers));
  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& error, int) {
    if (error) return;
    gybl.Log("OnClose Stop", kLogNormal);
    frame.StopTickTimer();
    frame.StopService();
    monitor.SetServer(nullptr);
    monitorServer.Stop();
    io.stop();
  });

  if (gybl.settings.flags.autoStartService != 0) frame.StartService();
  // After the service, so that the day's log still begins with the service's own lines.
  StartMonitor(gybl, frame, monitorServer, monitor);
  Housekeeping housekeeping(gybl);
  housekeeping.SetUpstreamReport([&gybl] { UpstreamReport(gybl); });
  frame.SetTickHandler([&housekeeping, &monitor] {
    housekeeping.OnTick();
    monitor.OnTick();
  });
  frame.StartTickTimer();
  io.run();
  monitor.SetServer(nullptr);  // the server goes first; lines logged from here on are not sent
  return 0;
}
