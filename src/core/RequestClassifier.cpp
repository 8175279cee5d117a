#include "core/RequestClassifier.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr int32_t kFirstKeptAliveMode = 9;  // 9: forwarded upstream; 11 and above: upstream mountpoints

struct FramerWords {
  std::string_view keyword;
  std::string_view terminator;
};

constexpr FramerWords kDeviceWords{"VORAN", "\r\n"};
constexpr FramerWords kGetWords{"GET", "\r\n\r\n"};
constexpr FramerWords kSourceWords{"SOURCE", "\r\n\r\n"};

// An NTRIP 2 upload begins with this; only where a new connection's input begins, so that other
// input costs one short comparison while the connection is undecided.
constexpr std::string_view kPostWord = "POST ";

enum class PostStart { kNo, kPartial, kYes };

PostStart StartsPost(const CBuffer& buffer) {
  const auto n = static_cast<size_t>(std::min(buffer.Length(), static_cast<int>(kPostWord.size())));
  if (n == 0 || std::memcmp(buffer.Data(), kPostWord.data(), n) != 0) return PostStart::kNo;
  return n < kPostWord.size() ? PostStart::kPartial : PostStart::kYes;
}

bool Runs(int32_t state, int32_t narrowed) { return state == kClassifyUndecided || state == narrowed; }

// An accepted base streams corrections: its chunks are passed on whole and at once, since holding
// back a tail that could begin a keyword would deliver the epoch's last frame a chunk late.
bool StreamsAsBase(const ClientEntry& entry) {
  return entry.classifyState != kClassifyUndecided && entry.clientType == "BASE";
}

// Position of the keyword, or of a tail of the buffer that could begin it (only when tails count).
// Without either, the position is the buffer's length.
int KeywordStart(const CBuffer& buffer, std::string_view keyword, bool tails) {
  const int length = buffer.Length();
  const int k = static_cast<int>(keyword.size());
  const int whole = length >= k ? buffer.Find(keyword.data(), k, 0) : 0;
  if (whole > 0) return whole - k;
  if (!tails) return length;
  for (int tail = k - 1; tail >= 1; --tail) {
    if (buffer.Find(keyword.data(), tail, length - tail) > 0) return length - tail;
  }
  return length;
}

}  // namespace

int RequestClassifier::Receive(uint32_t socket, uint32_t count, const uint8_t* bytes) {
  ClientEntry* entry = FindClient(table_, socket);
  if (entry == nullptr) return 1;
  entry->bytesReceived += count;
  if (gridNotify_ != nullptr) gridNotify_(gridContext_, *entry);

  // Bases, GGA monitors, linked rovers and rovers served elsewhere (forwarded to the upstream caster
  // or on an upstream mountpoint) are kept alive by their own data; an unlinked NTRIP client or rover
  // is not.
  if (!entry->userName.empty() && ((entry->clientType != "NTRIP" && entry->clientType != "ROVE") ||
                                   !entry->links.empty() || entry->dataFormat >= kFirstKeptAliveMode)) {
    entry->idleSeconds = 0;
  }
  if (entry->streamBuffer->Length() > kReceiveTrim) entry->streamBuffer->Clear();
  if (count == 0) return 1;

  const int32_t state = entry->classifyState;
  CBuffer* buffers[] = {entry->deviceBuffer.get(), entry->getBuffer.get(), entry->sourceBuffer.get()};
  const bool active[] = {Runs(state, kClassifyDevice), Runs(state, kClassifyGet),
                         Runs(state, kClassifySource)};
  for (int i = 0; i < 3; ++i) {
    if (!active[i]) continue;
    buffers[i]->Write(bytes, static_cast<int>(count));
  }

  // A request waiting for the database keeps the connection's input in the (bounded) framer buffers.
  if (entry->awaitingDatabase) {
    for (int i = 0; i < 3; ++i) {
      if (buffers[i]->Length() > kReceiveTrim) buffers[i]->Clear();
    }
    return 1;
  }
  return RunFramers(socket, false);
}

int RequestClassifier::RunFramers(uint32_t socket, bool getHandled) {
  // The state is read again before each framer: a request recognised by an earlier one keeps the
  // later ones from running in this call.
  const Framer order[] = {Framer::kDevice, Framer::kGet, Framer::kSource};
  const int32_t narrowed[] = {kClassifyDevice, kClassifyGet, kClassifySource};
  for (int i = 0; i < 3; ++i) {
    ClientEntry* entry = FindClient(table_, socket);
    if (entry == nullptr) return 1;
    if (entry->awaitingDatabase) return 1;
    if (!Runs(entry->classifyState, narrowed[i])) continue;
    if (RunFramer(order[i], socket, getHandled && order[i] == Framer::kGet) == 0) return 0;
  }
  // Whatever the framers left waiting is bounded. This runs after framing, not before it: a read
  // larger than the bound (a base sends up to 8095 bytes at once) would otherwise lose stream data
  // that the framers were about to pass on.
  ClientEntry* entry = FindClient(table_, socket);
  if (entry == nullptr) return 1;
  for (CBuffer* buffer : {entry->deviceBuffer.get(), entry->getBuffer.get(), entry->sourceBuffer.get()}) {
    if (buffer->Length() > kReceiveTrim) buffer->Clear();
  }
  ReleaseIdleBuffers(*entry);
  return 1;
}

// Thousands of connections wait with nothing buffered: empty buffers, and those of framers that no
// longer read the connection, hold no storage.
void RequestClassifier::ReleaseIdleBuffers(ClientEntry& entry) {
  const int32_t state = entry.classifyState;
  const std::pair<CBuffer*, bool> framers[] = {{entry.deviceBuffer.get(), Runs(state, kClassifyDevice)},
                                               {entry.getBuffer.get(), Runs(state, kClassifyGet)},
                                               {entry.sourceBuffer.get(), Runs(state, kClassifySource)}};
  for (const auto& [buffer, runs] : framers) {
    if (!runs && buffer->Length() > 0) buffer->Clear();
    buffer->ReleaseIfEmpty();
  }
  if (entry.streamBuffer) entry.streamBuffer->ReleaseIfEmpty();
}

int RequestClassifier::Resume(uint32_t socket) {
  ClientEntry* entry = FindClient(table_, socket);
  if (entry == nullptr || !entry->awaitingDatabase) return 1;
  entry->awaitingDatabase = false;
  const auto framer = static_cast<Framer>(entry->pendingFramer);
  const std::string request = std::move(entry->pendingRequest);
  entry->pendingRequest.clear();
  const size_t n = std::min(request.size(), static_cast<size_t>(kRequestAreaSize));
  std::memcpy(requestArea_.data(), request.data(), n);
  requestArea_[n] = '\0';
  if (CallHandler(framer, socket) == 0) return 0;
  if (Waiting(framer, socket)) return 1;
  if (framer == Framer::kPost) AdoptUploadBody(socket);
  // What arrived meanwhile, and what followed the request, is handled now.
  return RunFramers(socket, framer == Framer::kGet);
}

int RequestClassifier::CallHandler(Framer framer, uint32_t socket) {
  RequestHandlers& handlers = handlers_.get();
  switch (framer) {
    case Framer::kDevice:
      return handlers.HandleDeviceLine(requestArea_.data(), socket);
    case Framer::kGet:
      return handlers.HandleGetRequest(requestArea_.data(), socket);
    case Framer::kSource:
      return handlers.HandleSourceRequest(requestArea_.data(), socket);
    case Framer::kPost:
      return handlers.HandlePostRequest(requestArea_.data(), socket);
  }
  return 0;
}

bool RequestClassifier::Waiting(Framer framer, uint32_t socket) {
  ClientEntry* entry = FindClient(table_, socket);
  if (entry == nullptr || !entry->awaitingDatabase) return false;
  entry->pendingFramer = static_cast<int32_t>(framer);
  entry->pendingRequest = requestArea_.data();
  return true;
}

bool RequestClassifier::PassOn(Framer framer, uint32_t socket, int n) {
  ClientEntry* entry = FindClient(table_, socket);
  CBuffer& buffer = framer == Framer::kDevice ? *entry->deviceBuffer
                    : framer == Framer::kGet  ? *entry->getBuffer
                                              : *entry->sourceBuffer;
  // A data handler that passes bytes on again (never expected) gets an area of its own.
  std::vector<uint8_t> nested;
  uint8_t* area = passArea_.data();
  if (passing_) {
    nested.resize(passArea_.size());
    area = nested.data();
  }
  const int taken = buffer.Read(area, std::min(n, static_cast<int>(passArea_.size())));
  auto count = static_cast<uint32_t>(taken);
  // A chunked upload's framing is removed here, before the decoders and the rovers see the stream.
  ChunkedDecoder::Status body = ChunkedDecoder::Status::kMore;
  if (entry->chunkedUpload) {
    const ChunkedDecoder::Result decoded = entry->uploadChunks.Decode(area, count);
    count = static_cast<uint32_t>(decoded.length);
    body = decoded.status;
  }
  // While undecided, the GET and SOURCE framers pass the same bytes; the device framer drops its copy.
  if (count > 0 && (framer != Framer::kDevice || entry->classifyState == kClassifyDevice)) {
    const bool outer = !passing_;
    passing_ = true;
    handlers_.get().DispatchData(area, count, socket);
    if (outer) passing_ = false;
  }
  if (body != ChunkedDecoder::Status::kMore && FindClient(table_, socket) != nullptr) {
    handlers_.get().UploadEnded(socket, body == ChunkedDecoder::Status::kError);
  }
  return FindClient(table_, socket) != nullptr;
}

void RequestClassifier::TakeRequest(CBuffer& buffer, int n) {
  const int taken = buffer.Read(requestArea_.data(), n);
  requestArea_[static_cast<size_t>(taken)] = '\0';
}

int RequestClassifier::FramePost(CBuffer& buffer, uint32_t socket) {
  const int end = buffer.Find("\r\n\r\n", 4, 0);
  if (end == 0 || end >= static_cast<int>(kRequestAreaSize)) return 1;
  TakeRequest(buffer, end);
  if (CallHandler(Framer::kPost, socket) == 0) return 0;
  if (Waiting(Framer::kPost, socket)) return 1;
  AdoptUploadBody(socket);
  return 1;
}

void RequestClassifier::AdoptUploadBody(uint32_t socket) {
  ClientEntry* entry = FindClient(table_, socket);
  if (entry == nullptr || entry->classifyState != kClassifySource) return;
  entry->sourceBuffer->Copy(*entry->getBuffer);
  entry->getBuffer->Clear();
}

int RequestClassifier::RunFramer(Framer framer, uint32_t socket, bool requestHandled) {
  const FramerWords& words = framer == Framer::kDevice ? kDeviceWords
                             : framer == Framer::kGet  ? kGetWords
                                                       : kSourceWords;
  const int keywordLength = static_cast<int>(words.keyword.size());
  const int terminatorLength = static_cast<int>(words.terminator.size());
  auto bufferOf = [&](ClientEntry& entry) -> CBuffer& {
    return framer == Framer::kDevice ? *entry.deviceBuffer
           : framer == Framer::kGet  ? *entry.getBuffer
                                     : *entry.sourceBuffer;
  };

  for (;;) {
    ClientEntry* entry = FindClient(table_, socket);
    if (entry == nullptr) return 1;
    CBuffer& buffer = bufferOf(*entry);
    if (framer == Framer::kGet && entry->classifyState == kClassifyUndecided) {
      switch (StartsPost(buffer)) {
        case PostStart::kNo:
          break;
        case PostStart::kPartial:
          return 1;
        case PostStart::kYes:
          return FramePost(buffer, socket);
      }
    }
    const bool base = StreamsAsBase(*entry);
    if (buffer.Length() == 0 || (buffer.Length() < keywordLength && !base)) return 1;

    // An HTTP upload's stream holds no requests: it is passed on whole.
    const int start = entry->httpUpload ? buffer.Length() : KeywordStart(buffer, words.keyword, !base);
    if (start > 0) {
      if (!PassOn(framer, socket, std::min(start, static_cast<int>(kRequestAreaSize)))) return 1;
      continue;  // the loop's length test ends it once fewer bytes than the keyword remain
    }

    // The buffer begins with the keyword.
    const int end = buffer.Find(words.terminator.data(), terminatorLength, 0);
    if (framer == Framer::kDevice) {
      int n = end;
      if (end == 0) {
        if (buffer.Length() <= kDeviceLineLimit) return 1;
        n = kDeviceLineLimit;
      }
      n = std::min(n, kDeviceLineLimit);
      TakeRequest(buffer, n);
      if (CallHandler(framer, socket) == 0) return 0;
      if (Waiting(framer, socket)) return 1;
    } else if (framer == Framer::kGet) {
      // One request per chunk: a further request in the buffer waits for the next chunk.
      if (requestHandled) return 1;
      if (buffer.Length() < 4 || end == 0 || end >= static_cast<int>(kRequestAreaSize)) return 1;
      TakeRequest(buffer, end);
      if (CallHandler(framer, socket) == 0) return 0;
      if (Waiting(framer, socket)) return 1;
      // What the rover sent behind its request (often its first GGA) is its data now.
      requestHandled = true;
      continue;
    } else if (end != 0 && end < static_cast<int>(kRequestAreaSize)) {
      TakeRequest(buffer, end);
      if (CallHandler(framer, socket) == 0) return 0;
      if (Waiting(framer, socket)) return 1;
    }

    entry = FindClient(table_, socket);
    if (entry == nullptr) return 1;
    CBuffer& rest = bufferOf(*entry);
    if (rest.Length() > kPassTrim) {
      rest.Clear();
      return 1;
    }
    if (framer == Framer::kSource || (rest.Length() < keywordLength && !StreamsAsBase(*entry))) return 1;
  }
}
