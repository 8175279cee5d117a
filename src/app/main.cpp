// KavroServer: GNSS correction caster. Runs in the foreground until SIGINT or SIGTERM.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AccountCommand.h"
#include "app/Application.h"
#include "app/ConfigCheckCommand.h"
#include "app/HostInfo.h"

namespace {

void PrintUsage() {
  std::puts(
      "Usage: KavroServer [--dir DIR]\n"
      "  --dir DIR    program directory (settings in DIR/INI/KavroServer.INI); default: the\n"
      "               directory of the executable\n"
      "  --check-config  check the settings file and USER.NAME of the directory, print each\n"
      "               finding as FILE:LINE: message and exit (0 clean, 1 findings, 2 no directory)\n"
      "  --version    print the version and exit\n"
      "  --help       print this text and exit\n"
      "Stops on SIGINT or SIGTERM, closing every connection.\n"
      "\n"
      "Accounts, on the database the settings select, also beside a running caster\n"
      "(exit status 0 done, 1 failed):\n"
      "  KavroServer [--dir DIR] user add NAME PASSWORD [--allowed-seconds N]\n"
      "              [--valid-until YYYYMMDD] [--area NAME] [--serial SN]\n"
      "  KavroServer [--dir DIR] user list [SEARCH]\n"
      "  KavroServer [--dir DIR] user delete NAME\n"
      "  KavroServer [--dir DIR] user reset-time NAME\n"
      "  KavroServer [--dir DIR] user export accounts|areas FILE|-\n"
      "  KavroServer [--dir DIR] user import accounts|areas FILE|- [--dry-run]");
}

std::string ExecutableDirectory() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : path.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory;
  std::vector<std::string> userCommand;
  bool accountCommand = false;
  bool checkConfig = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "user") == 0) {
      accountCommand = true;
      userCommand.assign(argv + i + 1, argv + argc);
      break;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("KavroServer %s\n", VersionText(BuildNumberFromDate(KAVRO_BUILD_DATE)).c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--check-config") == 0) {
      checkConfig = true;
      continue;
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
  // The check looks at the directory as it is: nothing is created.
  if (checkConfig) return RunConfigCheck(directory, stdout, stderr);
  std::filesystem::create_directories(directory, error);  // a new directory gets the whole layout

  // The command form runs beside a caster: no single-instance lock, no service.
  if (accountCommand) return RunAccountCommand(directory, userCommand, stdout, stderr);
  return RunCaster(directory);
}
