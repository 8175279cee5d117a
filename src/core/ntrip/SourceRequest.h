#pragma once
// The NTRIP "SOURCE" request: a reference station asks to upload its stream to a mountpoint.
#include <cstdint>
#include <string>
#include <string_view>

class AccountServices;
class CKavroGyBl;
class NtripServices;
struct ClientEntry;

// What an upload asks for: the mountpoint, the account that vouches for it (a SOURCE upload's
// account is its mountpoint) with its password, and how it is answered.
struct UploadLogin {
  std::string mountpoint;
  std::string account;
  std::string password;
  bool ntrip2 = false;  // NTRIP 2 (POST): HTTP answers, refusals with the realm below
  std::string realm;
};

// The steps every upload shares once its request is read: reserved and taken mountpoints, the account
// check and acceptance as a base. 1 when accepted or waiting for the database, 0 to close.
int AdmitUpload(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services, ClientEntry& entry,
                const UploadLogin& login);

// Handles one SOURCE header block; 1 keeps the connection as a base, 0 closes it.
int HandleSourceRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                        std::string_view request, uint32_t socket);
