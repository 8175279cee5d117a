#include "gnss/FormatSearch.h"

#include <cstring>

#include "gnss/CmrDecoder.h"
#include "gnss/Crc24q.h"
#include "gnss/DataFormat.h"

namespace {

constexpr int kMinBuffered = 10;    // fewer buffered bytes only wait
constexpr int kMaxSearched = 1024;  // an unrecognised buffer beyond this is emptied
constexpr size_t kChunkTextLimit = 300;

// Outcome of testing the first candidate frame of one format.
enum class Candidate { kNone, kIncomplete, kFound };

Candidate TryRtcm3(const uint8_t* bytes, int total) {
  const auto* sync = static_cast<const uint8_t*>(std::memchr(bytes, 0xD3, total));
  if (sync == nullptr) return Candidate::kNone;
  const int available = total - static_cast<int>(sync - bytes);
  if (available < 3) return Candidate::kIncomplete;
  const int payloadLength = ((sync[1] & 3) << 8) | sync[2];
  if (available < payloadLength + 6) return Candidate::kIncomplete;
  const uint32_t crc = (uint32_t{sync[payloadLength + 3]} << 16) | (uint32_t{sync[payloadLength + 4]} << 8) |
                       sync[payloadLength + 5];
  return Crc24q(sync, static_cast<size_t>(payloadLength) + 3) == crc ? Candidate::kFound : Candidate::kNone;
}

Candidate TryCmr(const uint8_t* bytes, int total) {
  for (int i = 0; i + 1 < total; ++i) {
    if (bytes[i] != 0x02 || bytes[i + 1] != 0x00) continue;
    const int available = total - i;
    if (available < 4) return Candidate::kIncomplete;
    const int packetLength = bytes[i + 3] + 6;
    if (available < packetLength) return Candidate::kIncomplete;
    return CmrChecksumOk(bytes + i, static_cast<size_t>(packetLength)) ? Candidate::kFound : Candidate::kNone;
  }
  return Candidate::kNone;
}

Candidate TryRtca(const uint8_t* bytes, int total) {
  const auto* sync = static_cast<const uint8_t*>(std::memchr(bytes, 0x99, total));
  if (sync == nullptr) return Candidate::kNone;
  const int available = total - static_cast<int>(sync - bytes);
  const int frameLength = available > 5 ? sync[5] : 0;
  if (frameLength <= 6) return Candidate::kIncomplete;
  return available >= frameLength && sync[6] == 'N' ? Candidate::kFound : Candidate::kNone;
}

}  // namespace

void SearchDataFormat(DecoderContext& context, ClientEntry& entry, const uint8_t* data, uint32_t length) {
  CBuffer& buffer = StreamBuffer(entry);
  buffer.Write(data, static_cast<int>(length));
  // The buffered bytes count, not the chunk's: short reads must reach the search and its trim.
  if (buffer.Length() < kMinBuffered) return;

  const uint8_t* bytes = buffer.Data();
  const int total = buffer.Length();
  using Test = Candidate (*)(const uint8_t*, int);
  constexpr struct {
    Test test;
    DataFormat format;
  } kTests[] = {{TryRtcm3, DataFormat::kRtcm30}, {TryCmr, DataFormat::kCmr}, {TryRtca, DataFormat::kRtca}};

  bool incomplete = false;
  for (const auto& candidate : kTests) {
    const Candidate outcome = candidate.test(bytes, total);
    if (outcome == Candidate::kFound) {
      SetDataFormat(entry, candidate.format);
      context.monitor.OnTree(kTreeFormatKnown, &entry, 0);
      return;
    }
    // An incomplete candidate waits for more data before any later format is tried.
    if (outcome == Candidate::kIncomplete) {
      incomplete = true;
      break;
    }
  }
  if (!incomplete && context.console.WantsDecoderLines(entry.socket)) {
    context.console.AddDecoderLine(ChunkLine(entry.userName, data, length, kChunkTextLimit));
  }
  if (buffer.Length() > kMaxSearched) buffer.Clear();
}
