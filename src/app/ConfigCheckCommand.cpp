#include "app/ConfigCheckCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ConfigCheck.h"
#include "app/ProgramLayout.h"

namespace {

// Prints the findings of one file; false when there were any or the file could not be read.
bool CheckFile(const std::string& path, std::vector<ConfigFinding> (*check)(std::string_view), FILE* out) {
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) return true;  // the defaults hold
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    std::fprintf(out, "%s\n",
                 FindingLine(path, {0, std::string("cannot be read: ") + std::strerror(errno)}).c_str());
    return false;
  }
  const std::vector<ConfigFinding> findings = check(text);
  for (const ConfigFinding& finding : findings) std::fprintf(out, "%s\n", FindingLine(path, finding).c_str());
  return findings.empty();
}

}  // namespace

int RunConfigCheck(const std::string& programDirectory, FILE* out, FILE* err) {
  std::error_code error;
  if (!std::filesystem::is_directory(programDirectory, error)) {
    std::fprintf(err, "KavroServer: no directory %s\n", programDirectory.c_str());
    return 2;
  }
  const bool settingsClean = CheckFile(SettingsFilePath(programDirectory), CheckSettingsText, out);
  const bool relayClean = CheckFile(RelayFilePath(programDirectory), CheckRelayText, out);
  return settingsClean && relayClean ? 0 : 1;
}
