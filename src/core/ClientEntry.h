#pragma once
// One accepted TCP connection and the table of all of them, keyed by socket.
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/Buffer.h"
#include "core/LocalTime.h"
#include "core/SharedChunk.h"
#include "core/ntrip/ChunkedDecoder.h"

class CKavroNetClient;
class SocketConnection;

// Classification states: which request framers still read the connection.
enum ClassifyState : int32_t {
  kClassifyDevice = 0,
  kClassifyGet = 1,
  kClassifyUndecided = 2,
  kClassifySource = 3,
};

// Datum parameters of a work area, copied as one block.
struct AreaParameters {
  double dx = 0, dy = 0, dz = 0, rx = 0, ry = 0, rz = 0, sf = 0;
  int32_t useSeven = 0;
  int32_t useUndulation = 0;
};

// Replies up to this size go out from the composing code's own text; longer ones as one shared chunk.
constexpr size_t kOutBufferSize = 16192;
constexpr uint32_t kReadSize = 8095;

struct ClientEntry {
  uint32_t socket = 0;
  sockaddr_in peerAddress{};  // an IPv6 peer has family AF_INET6 here and its address in peerText
  std::string peerText;       // an IPv6 peer's address in text form; empty for IPv4 peers
  std::string userName;
  int32_t deviceParam = 0;
  std::string clientType;
  std::map<uint32_t, std::string> links;  // base: the rovers it feeds; rover: its base
  std::unique_ptr<CBuffer> deviceBuffer;
  std::unique_ptr<CBuffer> sourceBuffer;
  std::unique_ptr<CBuffer> getBuffer;
  std::unique_ptr<CBuffer> streamBuffer;
  LocalTime connectTime;
  LocalTime disconnectTime;
  int32_t echoMode = 0;
  std::array<double, 3> position{};  // latitude, longitude (degrees), height
  int32_t fixQuality = 0;
  std::string statusText;
  int32_t gridRefreshDue = 0;
  int32_t idleSeconds = 0;
  int64_t bytesSent = 0;  // 64-bit: a busy base overflows 32 bits within days
  int64_t bytesReceived = 0;
  std::string agent;
  std::string receiverCode;
  uint8_t receiverCodeKind = 0;
  int32_t classifyState = kClassifyUndecided;
  double ntripVersion = 1.0;
  int32_t dataFormat = 0;
  int32_t formatFlagA = 0;
  int32_t formatFlagB = 0;
  std::string dataFormatName;
  int32_t formatState = 0;
  std::shared_ptr<CKavroNetClient> netClient;
  std::array<double, 4> areaBounds{};  // two latitudes, two longitudes; -1.0 when the account has none
  AreaParameters areaParameters;
  std::string ipLocation;
  std::string accountUnit;
  std::string accountContact;
  std::string areaName;
  int32_t serialCheck = 0;
  std::string accountSerial;
  int32_t roveFlagA = 0;
  int32_t roveFlagB = 0;
  // Pending send: sendLength bytes at sendData, valid for the call of the send primitive only (the
  // write queue copies what it keeps); sendChunk, when set, holds the same bytes shared so that a
  // queue can keep a reference instead of a copy.
  uint32_t sendLength = 0;
  const uint8_t* sendData = nullptr;
  SharedChunk sendChunk;
  // Receive descriptor of the chunk being handled; the receive area belongs to the socket layer.
  uint32_t recvLength = 0;
  const uint8_t* recvData = nullptr;
  int32_t closeReason = 0;
  int32_t sendErrors = 0;
  std::array<int32_t, 6> ggaCounters{};
  double ggaTime = 0.0;
  int32_t ggaCount = 0;
  // A connect of the netClient to an upstream network server is pending (modes 11 and above).
  bool upstreamConnecting = false;
  // A request waiting for answers of the server database: the framer that took it and its text. The
  // connection's input waits in the framer buffers meanwhile.
  bool awaitingDatabase = false;
  uint64_t lookupId = 0;
  int32_t pendingFramer = 0;
  std::string pendingRequest;
  // NTRIP 2: a rover whose stream goes out in HTTP chunks after its reply header; a source that
  // uploads with POST (its stream is never searched for requests), with chunk framing to remove.
  bool chunkedReplies = false;
  bool httpUpload = false;
  bool chunkedUpload = false;
  ChunkedDecoder uploadChunks;
  // The socket layer's object for this connection (null in tests without sockets).
  std::shared_ptr<SocketConnection> connection;
};

using ClientTable = std::map<uint32_t, ClientEntry>;

// The sockets of entries that became bases, in socket order, so that a rover's login finds its base
// without walking every connection. It may hold sockets that are gone or no longer bases; users check.
using BaseIndex = std::set<uint32_t>;

// The test base lives under key 0: no socket, never timed out.
constexpr uint32_t kTestBaseSocket = 0;
constexpr const char* kTestBaseName = "T128888";

// The entry of a socket, or null; never inserts.
inline ClientEntry* FindClient(ClientTable& table, uint32_t socket) {
  auto it = table.find(socket);
  return it == table.end() ? nullptr : &it->second;
}
