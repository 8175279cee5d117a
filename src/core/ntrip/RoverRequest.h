#pragma once
// The NTRIP "GET" request: a rover (or a client wanting the sourcetable) asks for a mountpoint.
#include <cstdint>
#include <string>
#include <string_view>

class AccountServices;
class CKavroGyBl;
class NtripServices;

// User name and password of a Basic authorization header, cut as the caster cuts them; both empty
// when the header is absent or unusable. anyCase: the header name is matched without regard to case.
struct BasicCredentials {
  std::string text;  // the decoded "user:password" text
  std::string user;
  std::string password;
};
BasicCredentials ParseBasicCredentials(std::string_view request, bool anyCase = false);

// dataFormat and its name for a requested mountpoint: the format-typed names, then the upstream
// mountpoints (11 and above); 0 for any other name.
int MountpointFormat(const CKavroGyBl& gybl, const std::string& mountpoint, std::string& formatName);

// Handles one GET header block; 1 keeps the connection as a rover, 0 closes it.
int HandleGetRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                     std::string_view request, uint32_t socket);
