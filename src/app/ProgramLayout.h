#pragma once
// The files and directories under the program directory.
#include <array>
#include <string>

// Directories made at start, in this order.
inline constexpr std::array<const char*, 7> kProgramDirectories = {"INI", "BASE",       "LOG",     "KML",
                                                                   "GGA", "ServerHtml", "DownLoad"};

// Makes each directory of kProgramDirectories under programDirectory (which ends in "/"); a directory
// that exists or cannot be made is passed over.
void CreateProgramDirectories(const std::string& programDirectory);

std::string SettingsFilePath(const std::string& programDirectory);    // INI/KavroServer.INI
std::string RelayFilePath(const std::string& programDirectory);       // USER.NAME
std::string LockFilePath(const std::string& programDirectory);        // INI/KavroServer.lock
std::string IpLocationFilePath(const std::string& programDirectory);  // QQwry.dat
// INI/Server_<language>.INI
std::string LanguageFilePath(const std::string& programDirectory, const std::string& language);
