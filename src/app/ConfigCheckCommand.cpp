#include "app/ConfigCheckCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ConfigCheck.h"
#include "app/ProgramLayout.h"

namespace {

using Check = std::vector<ConfigFinding> (*)(std::string_view);

// The finding lines of one file; none for a missing file, whose defaults hold.
std::vector<std::string> FileFindings(const std::string& path, Check check) {
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad())
    return {FindingLine(path, {0, std::string("cannot be read: ") + std::strerror(errno)})};
  std::vector<std::string> lines;
  for (const ConfigFinding& finding : check(text)) lines.push_back(FindingLine(path, finding));
  return lines;
}

// Prints the findings of one file; false when there were any or the file could not be read.
bool CheckFile(const std::string& path, Check check, FILE* out) {
  const std::vector<std::string> lines = FileFindings(path, check);
  for (const std::string& line : lines) std::fprintf(out, "%s\n", line.c_str());
  return lines.empty();
}

}  // namespace

std::vector<std::string> ConfigFindingLines(const std::string& programDirectory) {
  std::vector<std::string> lines = FileFindings(SettingsFilePath(programDirectory), CheckSettingsText);
  for (std::string& line : FileFindings(RelayFilePath(programDirectory), CheckRelayText))
    lines.push_back(std::move(line));
  return lines;
}

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
