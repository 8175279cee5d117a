#pragma once
// The command form "KavroServer --check-config [--dir DIR]": checks the settings file and the relay file
// of a program directory without starting the caster.
#include <cstdio>
#include <string>
#include <vector>

// Checks programDirectory's INI/KavroServer.INI and USER.NAME (a missing file has nothing to check)
// and prints each finding as "FILE:LINE: message" to out. Exit status: 0 nothing found, 1 findings or an
// unreadable file, 2 no such directory (nothing is created).
int RunConfigCheck(const std::string& programDirectory, FILE* out, FILE* err);

// The finding lines of programDirectory's settings and relay files, as the check prints them; the
// caster logs them in red at start.
std::vector<std::string> ConfigFindingLines(const std::string& programDirectory);
