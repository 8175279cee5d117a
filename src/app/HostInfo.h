#pragma once
// Facts about the host that the service start reports.
#include <cstdint>
#include <string>
#include <vector>

// IPv4 interface addresses in dotted notation, loopback last, at most 20.
std::vector<std::string> CollectLocalAddresses();

// Space available to the program on the file system holding path, in bytes; 0 when unknown.
uint64_t FreeDiskBytes(const std::string& path);

// Build number YYMMDD from a date "YYYY-MM-DD", and the version text "2.00.YYMMDD".
int BuildNumberFromDate(const std::string& isoDate);
std::string VersionText(int buildNumber);
