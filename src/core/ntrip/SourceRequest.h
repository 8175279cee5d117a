#pragma once
// The NTRIP "SOURCE" request: a reference station asks to upload its stream to a mountpoint.
#include <cstdint>
#include <string_view>

class AccountServices;
class CKavroGyBl;
class NtripServices;

// Handles one SOURCE header block; 1 keeps the connection as a base, 0 closes it.
int HandleSourceRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                        std::string_view request, uint32_t socket);
