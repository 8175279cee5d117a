#include "app/WindowTitle.h"

#include "core/StrFormat.h"

std::string RunningTitle(const std::string& serverName, const std::string& masterSlave,
                         const std::string& startedWord, const std::string& versionText, int port,
                         int port2) {
  const char* ms = masterSlave.c_str();
  const char* word = startedWord.c_str();
  const char* version = versionText.c_str();
  if (!serverName.empty()) {
    const char* name = serverName.c_str();
    if (port2 != 0)
      return StrFormat("%s(%s) - %s[%s] PORT[%d] PORT[%d]", name, ms, word, version, port, port2);
    return StrFormat("%s(%s) - %s[%s] PORT[%d] ", name, ms, word, version, port);
  }
  if (port2 != 0)
    return StrFormat("QVO Server(%s) - %s[%s] PORT[%d] PORT[%d]", ms, word, version, port, port2);
  return StrFormat("QVO Server(%s) - %s[%s] PORT[%d] ", ms, word, version, port);
}

std::string StoppedTitle(const std::string& serverName, const std::string& masterSlave,
                         const std::string& closedWord, const std::string& versionText) {
  if (!serverName.empty()) {
    return StrFormat("%s(%s) - %s [%s] ", serverName.c_str(), masterSlave.c_str(), closedWord.c_str(),
                     versionText.c_str());
  }
  return StrFormat("QVO Server(%s) - %s [%s] ", masterSlave.c_str(), closedWord.c_str(), versionText.c_str());
}
