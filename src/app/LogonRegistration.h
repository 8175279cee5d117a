#pragma once
// Start at log-on: an XDG autostart entry, KavroServer.desktop in $XDG_CONFIG_HOME/autostart (or
// ~/.config/autostart), that runs the caster on its program directory when the user logs on.
#include <string>

// The entry's path; empty when neither XDG_CONFIG_HOME nor HOME names an absolute directory.
std::string AutostartEntryPath();
// The entry's text: Exec= the binary with "--dir" and the program directory, each argument quoted
// as desktop entries require. Empty when a path holds a control character, which no line can carry.
std::string AutostartEntryText(const std::string& binary, const std::string& programDirectory);
// Writes the entry (making its directory); true when it was written.
bool RegisterAtLogon(const std::string& binary, const std::string& programDirectory);
// Removes the entry; true when it was there and is gone.
bool UnregisterAtLogon();
// The running program file, from /proc/self/exe.
std::string RunningBinary();
