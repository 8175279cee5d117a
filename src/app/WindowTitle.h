#pragma once
// Window title texts of the running and the stopped service.
#include <string>

std::string RunningTitle(const std::string& serverName, const std::string& masterSlave,
                         const std::string& startedWord, const std::string& versionText, int port, int port2);
std::string StoppedTitle(const std::string& serverName, const std::string& masterSlave,
                         const std::string& closedWord, const std::string& versionText);
