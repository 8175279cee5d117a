#include "core/ntrip/RoverRequest.h"

#include <strings.h>

#include <array>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/Relay.h"
#include "core/StrFormat.h"
#include "core/ntrip/Base64.h"
#include "core/ntrip/NtripReplies.h"
#include "core/ntrip/NtripServices.h"
#include "core/ntrip/NtripText.h"
#include "core/ntrip/ReceiverCode.h"

namespace {

constexpr size_t kAgentLimit = 99;
constexpr size_t kAuthorizationLimit = 499;
constexpr size_t kBase64InputLimit = 300;
constexpr size_t kCredentialLimit = 50;
constexpr size_t kForwardRequestLimit = 4096;
constexpr int kTextLoginRefused = 62454;
constexpr int kTextNotServed = 62457;
constexpr int kPushIdleAbove = 10;
constexpr int kPushSeconds = 150;
constexpr int kForwardedFormat = 9;
constexpr int kFirstUpstreamFormat = 11;
constexpr int kSerialError = 5;
constexpr int kRightsError = 4;

enum NotServedReason { kNoMountpoint = 0, kUserRepeated = 1 };

constexpr std::array<const char*, 8> kFormatMounts = {"",      "[RTCA]", "[RTCM23]",     "[RTCM30]",
                                                      "[CMR]", "[RTD]",  "[RTCM32-MSM]", "[sCMRx]"};
constexpr std::array<const char*, 3> kUpstreamFormatNames = {"RTCM23", "RTCM32", "CMR"};

// What the handler keeps of one request while it runs (and while a forward connects).
struct GetRequest {
  std::string path;
  std::string mountpoint;
  BasicCredentials credentials;
};

// Refusal bit of the account's rights mask for a format; 0 when the format is not restricted.
bool RightsRefuse(const CKavroGyBl& gybl, int dataFormat, int rights) {
  switch (dataFormat) {
    case 1:
      return (rights & 0x100) != 0;
    case 2:
      return (rights & 0x080) != 0;
    case 4:
      return (rights & 0x040) != 0;
    case 3:
    case 6:
      return (rights & 0x020) != 0;
    case 5:
      return (rights & 0x010) != 0;
    default:
      break;
  }
  const int mount = dataFormat - kFirstUpstreamFormat;
  if (mount < 0 || mount >= static_cast<int>(gybl.mounts.size())) return false;
  switch (gybl.mounts[static_cast<size_t>(mount)]->formatIndex) {
    case 0:
      return (rights & 0x08) != 0 && (rights & 0x01) != 0;
    case 1:
      return (rights & 0x02) != 0;
    case 2:
      return (rights & 0x04) != 0;
    default:
      return false;
  }
}

bool AnyLinkConnected(const CKavroGyBl& gybl) {
  for (size_t i = 0; i < gybl.linkSlots.size(); ++i) {
    if (gybl.settings.links[i].port == 0) break;
    if (gybl.linkSlots[i].connected != 0) return true;
  }
  return false;
}

int NotServed(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services, ClientEntry& entry,
              const GetRequest& request, int reason) {
  const std::string& user = request.credentials.user;
  const std::string& password = request.credentials.password;
  const uint32_t socket = entry.socket;
  gybl.counters.Login(reason == kUserRepeated ? LoginResult::kUserRepeated : LoginResult::kUnknownMountpoint);
  gybl.SetUserName(entry, StrFormat("GET_USER(%s)(%s)", user.c_str(), password.c_str()));
  services.Sourcetable(socket, 0, 0, 0, 0);
  ClientEntry* still = FindClient(gybl.clientTable, socket);
  if (still == nullptr) return 0;
  gybl.LoadTexts(kTextNotServed);
  const std::string reasonText = gybl.textList[static_cast<size_t>(reason)];
  accounts.LogEvent(user, 8 + reason, reasonText);
  gybl.Log(StrFormat("[%4d]%s [%s]-[%s][%s][%s] %s %s %s %s ", static_cast<int>(socket), request.path.c_str(),
                     user.c_str(), password.c_str(), still->accountUnit.c_str(),
                     still->accountContact.c_str(), still->agent.c_str(),
                     PeerAddressText(*still).c_str(), still->ipLocation.c_str(), reasonText.c_str()),
           kLogRed, user);
  return 0;
}

int Served(CKavroGyBl& gybl, ClientEntry& entry, const GetRequest& request) {
  // With "Ntrip2Chunked", an NTRIP 2 rover's stream follows its reply header in HTTP chunks.
  const bool chunked = gybl.settings.ntrip2Chunked != 0 && entry.ntripVersion != 1.0;
  SendOkReply(gybl, entry, kReplyFull, chunked);
  entry.chunkedReplies = chunked;
  gybl.Log(
      StrFormat("[%4d]%s [%s]-[%s][%s][%s]%s  %s %s OK", static_cast<int>(entry.socket), request.path.c_str(),
                request.credentials.user.c_str(), request.credentials.password.c_str(),
                entry.accountUnit.c_str(), entry.accountContact.c_str(), entry.agent.c_str(),
                PeerAddressText(entry).c_str(), entry.ipLocation.c_str()),
      kLogNormal, request.credentials.user);
  return 1;
}

std::string ForwardRequest(const std::string& path, const std::string& upstreamCredentials) {
  std::string text = StrFormat(
      "GET %s HTTP/1.1\r\nUser-Agent: NTRIP NETSET_DEBUG\r\nAccept: */*\r\nConnection: close\r\n"
      "Authorization: Basic %s\r\n\r\n",
      path.c_str(), EncodeBase64(upstreamCredentials).c_str());
  if (text.size() > kForwardRequestLimit) text.resize(kForwardRequestLimit);
  return text;
}

// Forwarding to the upstream caster; the answer to the rover waits for the connect.
int Forward(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services, const GetRequest& request,
            uint32_t socket, size_t forwardIndex, bool checkOk) {
  const std::string upstreamCredentials =
      forwardIndex < gybl.settings.relay.users2.size() ? gybl.settings.relay.users2[forwardIndex] : "";
  services.ConnectUpstream(
      socket, [&gybl, &accounts, &services, request, socket, upstreamCredentials, checkOk](bool connected) {
        ClientEntry* entry = FindClient(gybl.clientTable, socket);
        if (entry == nullptr) return;
        if (connected) {
          services.SendUpstream(socket, ForwardRequest(request.path, upstreamCredentials));
          entry = FindClient(gybl.clientTable, socket);
          if (entry == nullptr) return;
          entry->dataFormat = kForwardedFormat;
          Served(gybl, *entry, request);
          return;
        }
        if (checkOk) {
          Served(gybl, *entry, request);
          return;
        }
        NotServed(gybl, accounts, services, *entry, request, kNoMountpoint);
        gybl.Close(socket, CloseReason::kRefused);
      });
  return 1;
}

}  // namespace

BasicCredentials ParseBasicCredentials(std::string_view request, bool anyCase) {
  BasicCredentials result;
  constexpr std::string_view kName = "Authorization: Basic ";
  const size_t at = FindText(request, kName, anyCase);
  if (at == std::string_view::npos) return result;
  std::string_view encoded = request.substr(at + kName.size(), kAuthorizationLimit);
  encoded = encoded.substr(0, encoded.find_first_of("\r\n"));
  std::string decoded = DecodeBase64(encoded.substr(0, kBase64InputLimit));
  decoded = decoded.substr(0, decoded.find_first_of(std::string_view("\x0F\xFF?", 3)));
  result.text = decoded;
  const size_t colon = decoded.rfind(':');
  if (colon == std::string::npos || colon == 0) return result;
  result.user = decoded.substr(0, colon);
  result.password = decoded.substr(colon + 1);
  if (result.user.size() > kCredentialLimit) result.user.clear();
  if (result.password.size() > kCredentialLimit) result.password.clear();
  return result;
}

int MountpointFormat(const CKavroGyBl& gybl, const std::string& mountpoint, std::string& formatName) {
  for (size_t format = 1; format < kFormatMounts.size(); ++format) {
    if (mountpoint == kFormatMounts[format]) {
      formatName =
          std::string(kFormatMounts[format]).substr(1, std::string(kFormatMounts[format]).size() - 2);
      return static_cast<int>(format);
    }
  }
  for (size_t i = 0; i < gybl.mounts.size(); ++i) {
    if (gybl.mounts[i]->name != mountpoint) continue;
    const int index = gybl.mounts[i]->formatIndex;
    if (index >= 0 && index < static_cast<int>(kUpstreamFormatNames.size())) {
      formatName = kUpstreamFormatNames[static_cast<size_t>(index)];
    }
    return kFirstUpstreamFormat + static_cast<int>(i);
  }
  return 0;
}

int HandleGetRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                     std::string_view text, uint32_t socket) {
  ClientEntry* found = FindClient(gybl.clientTable, socket);
  if (found == nullptr) return 0;
  ClientEntry& entry = *found;
  const OptionFlags& flags = gybl.settings.flags;

  entry.classifyState = kClassifyGet;
  GetRequest request;
  request.path = WordAt(text, 1);
  // NTRIP 2 clients may write header names in any case; NTRIP 1 requests are matched as they were.
  entry.ntripVersion = NtripVersionOf(text, 1.0, true);
  const bool anyCase = entry.ntripVersion != 1.0;
  entry.agent = HeaderValue(text, "User-Agent:", kAgentLimit, anyCase);
  DecodeReceiverCode(entry, gybl.settings.receiverAlphabet);
  // A '*' code whose check failed is forged: refused like an uncoded receiver.
  if (flags.receiverCodeLogin != 0 &&
      (entry.receiverCodeKind < kReceiverCodeCoded || entry.receiverCodeKind == kReceiverCodeBadSignature)) {
    return 0;
  }

  request.credentials = ParseBasicCredentials(text, anyCase);
  const std::string& user = request.credentials.user;
  const std::string& password = request.credentials.password;
  if (!request.path.empty()) request.mountpoint = request.path.substr(1);

  size_t forwardIndex = 0;
  bool forward = false;
  const auto& localUsers = gybl.settings.relay.users;
  for (size_t i = 0; i < localUsers.size(); ++i) {
    if (localUsers[i] == request.credentials.text) {
      forwardIndex = i;
      forward = true;
      break;
    }
  }
  gybl.logRecord.name = user;

  if (request.path == "/") {
    gybl.SetUserName(entry, StrFormat("GET_LIST(%s)(%s)", user.c_str(), password.c_str()));
    services.Sourcetable(socket, 0, 0, 0, 0);
    return 0;
  }
  if (request.path.rfind("/?", 0) == 0) {
    gybl.SetUserName(entry, StrFormat("GET_LIST_2.0(%s)(%s)", user.c_str(), password.c_str()));
    services.FilteredSourcetable(request.path, socket);
    return 0;
  }
  if (user.empty()) {
    SendRefusalReply(gybl, accounts, entry, request.path, kNoAccountError, kReplyFull);
    return 0;
  }
  // The account steps need the server's answers: fetched first, then this request is handled again.
  const bool statusPage = strcasecmp(request.mountpoint.c_str(), "RAVU") == 0;
  if (!accounts.LookupReady(entry, user, password, statusPage)) return 1;
  if (statusPage) {
    services.StatusPage(user, password, socket);
    if (ClientEntry* still = FindClient(gybl.clientTable, socket)) {
      gybl.SetUserName(*still, user);
      still->clientType = "NTRIP";
    }
    return 0;
  }
  gybl.SetUserName(entry, user);
  entry.clientType = "NTRIP";
  if (user.rfind('[', 0) == 0) {
    services.Sourcetable(socket, 0, 0, 0, 0);
    return 0;
  }
  if (flags.multiUser == 0) {
    if (ClientEntry* other = gybl.FindNamed(user, socket)) {
      if (other->idleSeconds > kPushIdleAbove) other->idleSeconds += kPushSeconds;
      return NotServed(gybl, accounts, services, entry, request, kUserRepeated);
    }
  }

  std::string formatName = entry.dataFormatName;
  entry.dataFormat = MountpointFormat(gybl, request.mountpoint, formatName);
  entry.dataFormatName = formatName;
  accounts.LookupUserArea(user, entry);
  const UserCheck check = accounts.CheckUser(user, password, entry);
  if (forward) return Forward(gybl, accounts, services, request, socket, forwardIndex, check.ok);

  if (!check.ok) {
    gybl.LoadTexts(kTextLoginRefused);
    gybl.Log(StrFormat("[%s]-[%s] %s %s", user.c_str(), password.c_str(), entry.agent.c_str(),
                       gybl.textList[0].c_str()),
             kLogRed, user);
    SendRefusalReply(gybl, accounts, entry, request.path, check.errorCode, kReplyFull);
    return 0;
  }
  if (entry.serialCheck == 1 && entry.agent.find(entry.accountSerial) == std::string::npos) {
    gybl.Log(StrFormat("ERROR [%s] %s", entry.accountSerial.c_str(), entry.agent.c_str()), kLogRed,
             entry.accountSerial);
    SendRefusalReply(gybl, accounts, entry, request.path, kSerialError, kReplyFull);
    return 0;
  }
  if (flags.passwordProtection != 0 && RightsRefuse(gybl, entry.dataFormat, check.rights)) {
    gybl.LoadTexts(kTextLoginRefused);
    gybl.Log(StrFormat("[%s]-[%s] %s", user.c_str(), password.c_str(), gybl.textList[0].c_str()), kLogRed,
             user);
    SendRefusalReply(gybl, accounts, entry, request.path, kRightsError, kReplyFull);
    return 0;
  }

  const bool linked = LinkToBase(gybl.clientTable, gybl.bases, request.mountpoint, socket) == 1;
  const bool served = linked || (entry.dataFormat >= 1 && entry.dataFormat <= 7) ||
                      (entry.dataFormat > 10 && AnyLinkConnected(gybl));
  if (!served) return NotServed(gybl, accounts, services, entry, request, kNoMountpoint);
  return Served(gybl, entry, request);
}
