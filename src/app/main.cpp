// KavroServer: GNSS correction caster. Runs in the foreground until SIGINT or SIGTERM.
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "app/HostInfo.h"
#include "app/KavroGyBl.h"
#include "app/MainFrame.h"
#include "app/MonitorEvents.h"
#include "app/ServiceSteps.h"
#include "app/Settings.h"
#include "core/Messages.h"
#include "core/RequestClassifier.h"
#include "db/DatabaseSteps.h"
#include "db/KavroDatabase.h"

namespace {

void PrintUsage() {
  std::puts(
      "Usage: KavroServer [--dir DIR]\n"
      "  --dir DIR    program directory (settings in DIR/INI/KavroServer.INI); default: the\n"
      "               directory of the executable\n"
      "  --version    print the version and exit\n"
      "  --help       print this text and exit\n"
      "Stops on SIGINT or SIGTERM, closing every connection.");
}

std::string ExecutableDirectory() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : path.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("KavroServer %s\n", VersionText(BuildNumberFromDate(KAVRO_BUILD_DATE)).c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
      directory = argv[++i];
      continue;
    }
    std::fprintf(stderr, "KavroServer: unknown argument '%s'\n", argv[i]);
    PrintUsage();
    return 2;
  }
  if (directory.empty()) directory = ExecutableDirectory();
  std::error_code error;
  directory = std::filesystem::absolute(directory, error).lexically_normal().string();
  if (directory.empty() || directory.back() != '/') directory += '/';

  boost::asio::io_context io;
  SystemClock clock;
  MonitorEvents monitor;
  DatabaseSteps steps;
  CKavroGyBl gybl(ReadSettings(directory + "INI/KavroServer.INI", directory + "USER.NAME"), clock, monitor,
                  steps);
  gybl.programDirectory = directory;
  gybl.buildNumber = BuildNumberFromDate(KAVRO_BUILD_DATE);
  gybl.versionText = VersionText(gybl.buildNumber);
  gybl.localAddresses = CollectLocalAddresses();

  KavroDatabase database(gybl, [&io](std::function<void()> work) { boost::asio::post(io, std::move(work)); });
  steps.Attach(&database);

  RefusingHandlers handlers;
  CMainFrame frame(io, gybl, handlers);
  database.OpenLocalDatabase();

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& e, int) {
    if (e) return;
    gybl.Log("OnClose Stop", kLogNormal);
    frame.StopService();
    io.stop();
  });

  if (gybl.settings.flags.autoStartService != 0) frame.StartService();
  io.run();
  return 0;
}
