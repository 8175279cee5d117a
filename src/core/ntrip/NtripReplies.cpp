#include "core/ntrip/NtripReplies.h"

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/StrFormat.h"

namespace {

constexpr size_t kMaxRealm = 400;
constexpr int kTextAccountErrors = 62456;

}  // namespace

std::string DateLine(const LocalTime& now) {
  return StrFormat("Date: %04d/%02d/%02d %02d:%02d:%02d\r\n\r\n", now.year, now.month, now.day, now.hour,
                   now.minute, now.second);
}

std::string OkReply(int mode, double ntripVersion, int buildNumber, const LocalTime& now, bool chunked) {
  if (mode == kReplyShort) return "ICY 200 OK\r\n\r\n";
  if (ntripVersion == 1.0)
    return StrFormat("ICY 200 OK\r\nServer: KavroGnss-Tavix/%06d \r\n", buildNumber) + DateLine(now);
  std::string head = StrFormat(
      "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/%06d \r\n", buildNumber);
  if (chunked) head += "Transfer-Encoding: chunked\r\n";
  return head + DateLine(now);
}

std::string UploadReply(std::string_view status, int buildNumber, const LocalTime& now) {
  return "HTTP/1.1 " + std::string(status) +
         StrFormat("\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/%06d \r\nConnection: close\r\n",
                   buildNumber) +
         DateLine(now);
}

std::string RefusalReply(int mode, std::string_view realm, const LocalTime& now) {
  if (mode == kReplyShort) return "ERROR - Bad Password \r\n\r\n";
  return "HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"" + std::string(realm) + "\"\r\n" +
         DateLine(now);
}

std::string AlreadyConnectedReply(int mode, const LocalTime& now) {
  if (mode == kReplyShort) return "ERROR - Already Connected\r\n\r\n";
  return "ERROR - Already Connected\r\n" + DateLine(now);
}

void SendOkReply(CKavroGyBl& gybl, ClientEntry& entry, int mode, bool chunked) {
  gybl.counters.Login(LoginResult::kAccepted);
  gybl.SendText(entry.socket,
                OkReply(mode, entry.ntripVersion, gybl.buildNumber, gybl.clock().Now(), chunked));
}

int SendRefusalReply(CKavroGyBl& gybl, AccountServices& accounts, ClientEntry& entry, std::string_view realm,
                     int errorIndex, int mode) {
  if (realm.size() > kMaxRealm) return 0;
  const uint32_t socket = entry.socket;
  const std::string userName = entry.userName;
  gybl.SendText(socket, RefusalReply(mode, realm, gybl.clock().Now()));
  gybl.counters.Login(LoginRefusal(errorIndex));
  if (errorIndex != 0 && errorIndex != kNoAccountError) {
    gybl.LoadTexts(kTextAccountErrors);
    const std::string text = errorIndex >= 1 && errorIndex <= kTextSlots ? gybl.textList[errorIndex - 1] : "";
    accounts.LogEvent(userName, errorIndex, text);
    gybl.Log(StrFormat("[%s]", text.c_str()), kLogRed, userName);
  }
  return 1;
}

void SendAlreadyConnectedReply(CKavroGyBl& gybl, ClientEntry& entry, int mode) {
  gybl.counters.Login(LoginResult::kAlreadyConnected);
  gybl.SendText(entry.socket, AlreadyConnectedReply(mode, gybl.clock().Now()));
}
