#pragma once
// The receivers' line protocol: one "VORAN," command line of a base, a rover or a GGA monitor.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ClientEntry.h"

class AccountServices;
class CKavroGyBl;

constexpr int kDeviceFieldCount = 40;
constexpr size_t kDeviceFieldLimit = 49;  // a longer field reads as empty

// Fields of a device line: 0 the keyword, 1 the command, 2 and on its arguments.
using DeviceFields = std::array<std::string, kDeviceFieldCount>;

// Splits a device line at ",". Splitting stops at the first field that is empty in the line (later
// fields read as empty); carriage returns and line feeds are removed from each field, and a field
// longer than 49 characters is emptied without stopping the splitting.
DeviceFields SplitDeviceLine(std::string_view line);

// The "VORAN,LIST," line of GETBASE and GETLINK (bases only) or GETALL (every kind, each followed by
// its kind), without the requester and GGA monitors, with its "\r\n".
std::string DeviceListText(const ClientTable& table, uint32_t requester, bool allKinds);

// Handles one device line of a connection; 1 keeps the connection, 0 closes it.
int HandleDeviceLine(CKavroGyBl& gybl, AccountServices& accounts, std::string_view line, uint32_t socket);
