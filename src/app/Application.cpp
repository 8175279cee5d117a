#include "app/Application.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <cstdio>
#include <functional>
#include <utility>

#include "app/CasterSteps.h"
#include "app/HostInfo.h"
#include "app/KavroGyBl.h"
#include "app/Locale.h"
#include "app/MainFrame.h"
#include "app/OutputLog.h"
#include "app/ProgramLayout.h"
#include "app/Settings.h"
#include "app/ShellMonitor.h"
#include "app/SingleInstance.h"
#include "app/WorkspaceTree.h"
#include "core/CasterHandlers.h"
#include "core/CasterServices.h"
#include "core/Housekeeping.h"
#include "core/LocalTime.h"
#include "core/Messages.h"
#include "db/AccountDatabase.h"
#include "db/KavroDatabase.h"
#include "gnss/DecoderContext.h"
#include "link/ServerLinks.h"
#include "link/UpstreamReport.h"
#include "reports/IpLocation.h"

int RunCaster(const std::string& programDirectory) {
  CreateProgramDirectories(programDirectory);

  SystemClock clock;
  OutputLog outputLog(clock, programDirectory + "LOG", stdout);
  WorkspaceTree tree;
  ShellMonitor monitor(outputLog, tree);

  SingleInstance instance;
  if (!instance.Acquire(LockFilePath(programDirectory))) {
    std::fprintf(stderr, "Other User Runing\n");
    monitor.OnLogLine(LogRecord{{}, "Other User Runing", kLogRed});
    return 1;
  }

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
  if (gybl.settings.languageSet == "SET") gybl.exportTexts();

  gybl.localAddresses = CollectLocalAddresses();
  boost::asio::io_context io;
  // Database results that the worker threads produce are handled on the main thread.
  KavroDatabase database(gybl, [&io](std::function<void()> work) { boost::asio::post(io, std::move(work)); });
  AccountDatabase accounts(gybl, database);
  steps.Attach(&database);
  steps.AttachAccounts(&accounts);
  CasterServices services(gybl, accounts, io.get_executor());
  // No debug console yet: decoder lines are not composed. Positions go to the records.
  DecoderConsole console;
  DecoderContext decoders{monitor, console, accounts, gybl.settings.flags.saveGga};
  CasterHandlers handlers(gybl, accounts, services, decoders);
  // The sixteen server link slots; the tick connects them while the service runs.
  ServerLinks links(gybl, io.get_executor());
  steps.AttachLinks(&links);
  CMainFrame frame(io, gybl, handlers);
  accounts.SetResumer([&frame](uint32_t socket) { frame.ResumeRequest(socket); });
  database.OpenLocalDatabase();
  accounts.areas.LoadWorkAreas();

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& error, int) {
    if (error) return;
    gybl.Log("OnClose Stop", kLogNormal);
    frame.StopTickTimer();
    frame.StopService();
    io.stop();
  });

  if (gybl.settings.flags.autoStartService != 0) frame.StartService();
  Housekeeping housekeeping(gybl);
  housekeeping.SetUpstreamReport([&gybl] { UpstreamReport(gybl); });
  frame.SetTickHandler([&housekeeping] { housekeeping.OnTick(); });
  frame.StartTickTimer();
  io.run();
  return 0;
}
