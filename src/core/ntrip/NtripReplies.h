#pragma once
// The replies to NTRIP requests: OK, refusal and already-connected, composed as texts and sent
// from the entry's reply area.
#include <string>
#include <string_view>

#include "core/LocalTime.h"

class CKavroGyBl;
class AccountServices;
struct ClientEntry;

// Reply modes: 0 the full HTTP-style form, 1 the short ICY/ERROR form.
enum ReplyMode : int { kReplyFull = 0, kReplyShort = 1 };

// Error index of a refusal that names no account error.
constexpr int kNoAccountError = 100;

// "Date: YYYY/MM/DD hh:mm:ss\r\n\r\n".
std::string DateLine(const LocalTime& now);
// chunked: an NTRIP 2 reply announces "Transfer-Encoding: chunked".
std::string OkReply(int mode, double ntripVersion, int buildNumber, const LocalTime& now,
                    bool chunked = false);
// The NTRIP 2 answer to an upload (POST): "HTTP/1.1 200 OK" or a refusal status line, with the
// NTRIP 2 headers, "Connection: close" and the date line.
std::string UploadReply(std::string_view status, int buildNumber, const LocalTime& now);
std::string RefusalReply(int mode, std::string_view realm, const LocalTime& now);
std::string AlreadyConnectedReply(int mode, const LocalTime& now);

// Sends the OK reply to the entry.
void SendOkReply(CKavroGyBl& gybl, ClientEntry& entry, int mode, bool chunked = false);
// Sends the refusal reply; for error indexes other than 0 and 100 records the account error and
// logs its text. 0 without sending when the realm is longer than 400 characters.
int SendRefusalReply(CKavroGyBl& gybl, AccountServices& accounts, ClientEntry& entry, std::string_view realm,
                     int errorIndex, int mode);
void SendAlreadyConnectedReply(CKavroGyBl& gybl, ClientEntry& entry, int mode);
