#include "tools/Rtcm3Frame.h"

#include <algorithm>

namespace ntripload {
namespace {

constexpr uint8_t kPreamble = 0xD3;
constexpr uint16_t kMessageNumber = 4095;
// The first bytes of every frame of this stream whatever its length: preamble, reserved bits (zero),
// length, message number 4095 and four zero bits. Length bytes are not compared.
constexpr size_t kSignatureSize = kRtcm3HeaderSize + kRtcm3NumberSize;

uint8_t Byte(std::string_view bytes, size_t at) { return static_cast<uint8_t>(bytes[at]); }

enum class At { Intact, Broken, Incomplete };

// What starts at the front of bytes.
At CheckFrame(std::string_view bytes) {
  const size_t have = std::min(bytes.size(), kSignatureSize);
  if (have > 0 && Byte(bytes, 0) != kPreamble) return At::Broken;
  if (have > 1 && (Byte(bytes, 1) & 0xFC) != 0) return At::Broken;
  if (have > 3 && Byte(bytes, 3) != 0xFF) return At::Broken;
  if (have > 4 && Byte(bytes, 4) != 0xF0) return At::Broken;
  if (have < kSignatureSize) return At::Incomplete;
  const size_t length = (static_cast<size_t>(Byte(bytes, 1) & 0x03) << 8) | Byte(bytes, 2);
  if (length < kRtcm3NumberSize) return At::Broken;
  const size_t frame = kRtcm3HeaderSize + length + kRtcm3CrcSize;
  if (bytes.size() < frame) return At::Incomplete;
  const size_t body = kRtcm3HeaderSize + length;
  const uint32_t stored =
      (uint32_t{Byte(bytes, body)} << 16) | (uint32_t{Byte(bytes, body + 1)} << 8) | Byte(bytes, body + 2);
  return Crc24q(bytes.substr(0, body)) == stored ? At::Intact : At::Broken;
}

// Frame size from the first three bytes of a frame.
size_t FrameSize(std::string_view bytes) {
  return kRtcm3HeaderSize + ((static_cast<size_t>(Byte(bytes, 1) & 0x03) << 8) | Byte(bytes, 2)) +
         kRtcm3CrcSize;
}

}  // namespace

uint32_t Crc24q(std::string_view bytes) {
  uint32_t crc = 0;
  for (const char c : bytes) {
    crc ^= uint32_t{static_cast<uint8_t>(c)} << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= 0x1864CFB;
    }
  }
  return crc & 0xFFFFFF;
}

void AppendRtcm3Frame(std::string& out, std::string_view record) {
  const size_t start = out.size();
  const size_t length = kRtcm3NumberSize + record.size();
  out.push_back(static_cast<char>(kPreamble));
  out.push_back(static_cast<char>((length >> 8) & 0x03));
  out.push_back(static_cast<char>(length & 0xFF));
  out.push_back(static_cast<char>(kMessageNumber >> 4));
  out.push_back(static_cast<char>((kMessageNumber & 0x0F) << 4));
  out.append(record);
  const uint32_t crc = Crc24q(std::string_view(out).substr(start));
  out.push_back(static_cast<char>(crc >> 16));
  out.push_back(static_cast<char>((crc >> 8) & 0xFF));
  out.push_back(static_cast<char>(crc & 0xFF));
}

std::vector<Rtcm3Unwrapper::Frame> Rtcm3Unwrapper::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::vector<Frame> found;
  while (Step(found)) {
  }
  return found;
}

void Rtcm3Unwrapper::Skip(size_t bytes) {
  counts_.skippedBytes += bytes;
  pending_.erase(0, bytes);
}

bool Rtcm3Unwrapper::Step(std::vector<Frame>& found) {
  const std::string_view view(pending_);
  if (!synced_) {
    for (size_t at = view.find(static_cast<char>(kPreamble)); at != std::string_view::npos;
         at = view.find(static_cast<char>(kPreamble), at + 1)) {
      const At state = CheckFrame(view.substr(at));
      if (state == At::Broken) continue;
      Skip(at);
      if (state == At::Incomplete) return false;
      synced_ = true;
      return true;
    }
    Skip(pending_.size());
    return false;
  }
  const At state = CheckFrame(view);
  if (state == At::Incomplete) return false;
  if (state == At::Intact) {
    const size_t size = FrameSize(view);
    ++counts_.frames;
    found.push_back({std::string(view.substr(kSignatureSize, size - kSignatureSize - kRtcm3CrcSize)), true});
    pending_.erase(0, size);
    return true;
  }
  // Damaged in place when its header holds and the next frame starts right after its declared end.
  if (view.size() >= kRtcm3HeaderSize && Byte(view, 0) == kPreamble && (Byte(view, 1) & 0xFC) == 0) {
    const size_t size = FrameSize(view);
    if (view.size() < size) return false;
    const At next = CheckFrame(view.substr(size));
    if (next == At::Incomplete) return false;
    if (next == At::Intact) {
      ++counts_.damaged;
      found.push_back({std::string(), false});
      pending_.erase(0, size);
      return true;
    }
  }
  ++counts_.cuts;
  synced_ = false;
  Skip(1);
  return true;
}

}  // namespace ntripload
