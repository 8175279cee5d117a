#include "app/ProgramLayout.h"

#include <sys/stat.h>

void CreateProgramDirectories(const std::string& programDirectory) {
  for (const char* name : kProgramDirectories) {
    ::mkdir((programDirectory + name).c_str(), 0755);  // failures are found by the writers later
  }
}

std::string SettingsFilePath(const std::string& programDirectory) {
  return programDirectory + "INI/KavroServer.INI";
}

std::string RelayFilePath(const std::string& programDirectory) { return programDirectory + "USER.NAME"; }

std::string LockFilePath(const std::string& programDirectory) {
  return programDirectory + "INI/KavroServer.lock";
}

std::string IpLocationFilePath(const std::string& programDirectory) { return programDirectory + "QQwry.dat"; }

std::string LanguageFilePath(const std::string& programDirectory, const std::string& language) {
  return programDirectory + "INI/Server_" + language + ".INI";
}
