#include "core/ntrip/PostRequest.h"

#include <strings.h>

#include <string>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"
#include "core/ntrip/NtripReplies.h"
#include "core/ntrip/NtripText.h"
#include "core/ntrip/ReceiverCode.h"
#include "core/ntrip/RoverRequest.h"
#include "core/ntrip/SourceRequest.h"

namespace {

constexpr size_t kAgentLimit = 99;
constexpr size_t kHeaderLimit = 200;

// The request path: the second word of the request line, without what follows the line.
std::string PathOf(std::string_view request) {
  std::string path = WordAt(request, 1);
  return path.substr(0, path.find_first_of("\r\n"));
}

bool Chunked(std::string_view request) {
  const std::string coding = HeaderValue(request, "Transfer-Encoding:", kHeaderLimit, true);
  return FindText(coding, "chunked", true) != std::string_view::npos;
}

}  // namespace

int HandlePostRequest(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                      std::string_view request, uint32_t socket) {
  ClientEntry* found = FindClient(gybl.clientTable, socket);
  if (found == nullptr) return 0;
  ClientEntry& entry = *found;
  // POST is NTRIP 2 whatever the request says; its header names are matched without regard to case.
  entry.ntripVersion = NtripVersionOf(request, 2.0, true);
  if (entry.ntripVersion == 1.0) entry.ntripVersion = 2.0;
  entry.agent = HeaderValue(request, "User-Agent:", kAgentLimit, true);
  if (entry.agent.empty()) entry.agent = HeaderValue(request, "Source-Agent:", kAgentLimit, true);
  DecodeReceiverCode(entry, gybl.settings.receiverAlphabet);

  const std::string path = PathOf(request);
  // Mountpoint names are formed as for SOURCE uploads: every "/" removed.
  const std::string mountpoint = ReplaceAll(path, "/", "");
  const BasicCredentials credentials = ParseBasicCredentials(request, true);
  gybl.logRecord.name = mountpoint;

  if (mountpoint.empty()) {
    gybl.SendText(socket, UploadReply("400 Bad Request", gybl.buildNumber, gybl.clock().Now()));
    return 0;
  }
  // An upload names its account; without one there is nothing to check or record it under.
  if (credentials.user.empty()) {
    SendRefusalReply(gybl, accounts, entry, path, kNoAccountError, kReplyFull);
    return 0;
  }

  const UploadLogin login{.mountpoint = mountpoint,
                          .account = credentials.user,
                          .password = credentials.password,
                          .ntrip2 = true,
                          .realm = path};
  if (AdmitUpload(gybl, accounts, services, entry, login) == 0) return 0;
  ClientEntry* admitted = FindClient(gybl.clientTable, socket);
  if (admitted == nullptr || admitted->awaitingDatabase) return 1;
  admitted->classifyState = kClassifySource;
  admitted->httpUpload = true;
  admitted->chunkedUpload = Chunked(request);
  admitted->uploadChunks = ChunkedDecoder();
  return 1;
}

void EndUpload(CKavroGyBl& gybl, uint32_t socket, bool malformed) {
  ClientEntry* entry = FindClient(gybl.clientTable, socket);
  if (entry == nullptr) return;
  if (malformed) {
    gybl.Log(StrFormat("[%4d]NTRIP SERVER %s bad chunk framing %s", static_cast<int>(socket),
                       entry->userName.c_str(), PeerAddressText(*entry).c_str()),
             kLogRed, entry->userName);
  }
  gybl.Close(socket, malformed ? CloseReason::kRefused : CloseReason::kPeerClosed);
}
