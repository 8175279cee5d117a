#pragma once
// Checks the text of the settings file (INI/KavroServer.INI) and of the relay file (USER.NAME) against
// what their readers accept: unknown sections and keys, and values a reader would pass over, cut or
// read otherwise than they look. Pure: text in, findings out.
#include <string>
#include <string_view>
#include <vector>

// One finding: the 1-based line it is about (0: the whole file) and what is wrong there.
struct ConfigFinding {
  int line = 0;
  std::string message;
  bool operator==(const ConfigFinding&) const = default;
};

// Findings in the text of INI/KavroServer.INI, in line order; empty for a clean file.
std::vector<ConfigFinding> CheckSettingsText(std::string_view text);
// Findings in the text of USER.NAME, in line order; empty for a clean file.
std::vector<ConfigFinding> CheckRelayText(std::string_view text);

// "FILE:LINE: message" ("FILE: message" for the whole file).
std::string FindingLine(std::string_view file, const ConfigFinding& finding);

// "SECTION/Key" of every key the settings file's readers know, in file order (for the sample file).
std::vector<std::string> KnownSettingsKeys();
