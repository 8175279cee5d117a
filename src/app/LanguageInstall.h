#pragma once
// The English language file shipped inside the program, and its installation under the program directory.
#include <string>
#include <string_view>

// The bytes of lang/Server_English.INI, embedded when the program is built.
std::string_view ShippedEnglishLanguageFile();

// Writes the shipped English file to INI/Server_English.INI under programDirectory (which ends in "/")
// when no file of that name is there; an existing file, which the operator may have edited, is never
// touched. Returns the failure text to log in red, or "" when the file was written or already there.
std::string InstallLanguageFile(const std::string& programDirectory);
