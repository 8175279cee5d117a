#pragma once
// The NTRIP 2 upload: a reference station sends "POST /MOUNTPOINT HTTP/1.1" with Basic credentials
// and streams its corrections as the request body, plain or in HTTP chunks.
#include <cstdint>
#include <string_view>

class AccountServices;
class CKavroGyBl;
class NtripServices;

// Handles one POST header block; 1 keeps the connection as a base (or waiting for the database),
// 0 closes it.
int HandlePostRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                      std::string_view request, uint32_t socket);

// The chunked body of an upload ended: a malformed chunk header or chunk end is logged and closes
// the upload as refused; the last chunk closes it as the peer's end.
void EndUpload(CKavroGyBl& gybl, uint32_t socket, bool malformed);
