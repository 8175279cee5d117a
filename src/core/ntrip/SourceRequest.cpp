#include "core/ntrip/SourceRequest.h"

#include <string>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/StrFormat.h"
#include "core/ntrip/NtripReplies.h"
#include "core/ntrip/NtripServices.h"
#include "core/ntrip/NtripText.h"
#include "core/ntrip/ReceiverCode.h"

namespace {

constexpr size_t kAgentLimit = 99;
constexpr int kTextLoginRefused = 62454;
constexpr int kPushIdleAbove = 10;  // a silent holder of the mountpoint is pushed towards its time-out
constexpr int kPushSeconds = 150;

struct SourceWords {
  std::string password;
  std::string mountpoint;
};

SourceWords ParseSourceWords(std::string_view request) {
  SourceWords words;
  words.password = ReplaceAll(WordAt(request, 1), "\r\n", "");
  // Without a password the second word is the mountpoint (and stands as the password too).
  std::string mountWord =
      words.password.rfind('/', 0) == 0 ? words.password : ReplaceAll(WordAt(request, 2), "\r\n", " ");
  mountWord = ReplaceAll(mountWord, "/", "");
  words.mountpoint = mountWord.substr(0, mountWord.find(' '));
  return words;
}

// Refuses a mountpoint that is taken; count is the holder's idle count (0 for an upstream name).
int RefuseRepeat(CKavroGyBl& gybl, ClientEntry& entry, const UploadLogin& login, int count) {
  gybl.SetUserName(entry, "REP_USER-" + login.mountpoint);
  gybl.Log(StrFormat("NTRIP SERVER %s [%s]-[%s] %s  %s %d(%s) REPEAT %d", login.mountpoint.c_str(),
                     login.account.c_str(), login.password.c_str(), entry.agent.c_str(),
                     PeerAddressText(entry).c_str(), static_cast<int>(entry.socket),
                     entry.ipLocation.c_str(), count),
           kLogRed, login.mountpoint);
  if (login.ntrip2) {
    gybl.SendText(entry.socket, UploadReply("409 Conflict", gybl.buildNumber, gybl.clock().Now()));
  } else {
    SendAlreadyConnectedReply(gybl, entry, kReplyShort);
  }
  return 0;
}

}  // namespace

int HandleSourceRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                        std::string_view request, uint32_t socket) {
  ClientEntry* found = FindClient(gybl.clientTable, socket);
  if (found == nullptr) return 0;
  ClientEntry& entry = *found;
  entry.classifyState = kClassifySource;
  entry.ntripVersion = NtripVersionOf(request, 1.0);

  const SourceWords words = ParseSourceWords(request);
  entry.agent = HeaderValue(request, "Source-Agent:", kAgentLimit);
  DecodeReceiverCode(entry, gybl.settings.receiverAlphabet);
  gybl.logRecord.name = words.mountpoint;

  UploadLogin login;
  login.mountpoint = words.mountpoint;
  login.account = words.mountpoint;
  login.password = words.password;
  return AdmitUpload(gybl, accounts, services, entry, login);
}

int AdmitUpload(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services, ClientEntry& entry,
                const UploadLogin& login) {
  const uint32_t socket = entry.socket;
  if (login.mountpoint.rfind('[', 0) == 0) {
    gybl.SetUserName(entry, "SET_MOUNT");
    services.Sourcetable(socket, 0, 0, 0, 0);
    return 0;
  }
  gybl.SetUserName(entry, login.mountpoint);
  entry.clientType = "NTRIP";

  for (const auto& mount : gybl.mounts) {
    if (mount->name == login.mountpoint) return RefuseRepeat(gybl, entry, login, 0);
  }
  if (ClientEntry* other = gybl.FindNamed(login.mountpoint, socket)) {
    if (other->idleSeconds > kPushIdleAbove) other->idleSeconds += kPushSeconds;
    return RefuseRepeat(gybl, entry, login, other->idleSeconds);
  }

  // The account steps need the server's answers: fetched first, then this request is handled again.
  if (!accounts.LookupReady(entry, login.account, login.password)) return 1;
  accounts.LookupUserArea(login.account, entry);
  const bool protection = gybl.settings.flags.passwordProtection != 0;
  const bool admitUnchecked = gybl.settings.useSql != 0 && protection && accounts.ServerDatabaseDown();
  if (!admitUnchecked) {
    const UserCheck check = accounts.CheckUser(login.account, login.password, entry);
    if (!check.ok && protection) {
      gybl.LoadTexts(kTextLoginRefused);
      gybl.Log(
          StrFormat("[%s]-[%s] %s", login.account.c_str(), login.password.c_str(), gybl.textList[0].c_str()),
          kLogRed, login.mountpoint);
      if (login.ntrip2) {
        SendRefusalReply(gybl, accounts, entry, login.realm, check.errorCode, kReplyFull);
      } else {
        SendRefusalReply(gybl, accounts, entry, login.password, check.errorCode, kReplyShort);
      }
      return 0;
    }
  }

  gybl.monitor().OnTree(0, &entry, 0);
  if (login.ntrip2) {
    gybl.SendText(socket, UploadReply("200 OK", gybl.buildNumber, gybl.clock().Now()));
  } else {
    SendOkReply(gybl, entry, kReplyShort);
  }
  gybl.SetClientType(entry, "BASE");
  gybl.Log(StrFormat("[%4d]NTRIP SERVER %s [%s]-[%s] %s  %s %s OK", static_cast<int>(socket),
                     login.mountpoint.c_str(), login.account.c_str(), login.password.c_str(),
                     entry.agent.c_str(), PeerAddressText(entry).c_str(), entry.ipLocation.c_str()),
           kLogNormal, login.mountpoint);
  return 1;
}
