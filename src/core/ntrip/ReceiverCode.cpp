#include "core/ntrip/ReceiverCode.h"

#include <cstdlib>

#include "core/ClientEntry.h"
#include "core/StrFormat.h"
#include "core/ntrip/Base64.h"
#include "core/ntrip/NtripText.h"

namespace {

constexpr size_t kFieldLimit = 512;
constexpr size_t kMarkerIndex = 4;

}  // namespace

std::string DecodeReceiverField(std::string_view field, std::string_view alphabet) {
  if (field.size() <= kMarkerIndex || (field[kMarkerIndex] != '-' && field[kMarkerIndex] != '*')) {
    return std::string(field);
  }
  field = field.substr(0, kFieldLimit);
  const bool hexText = field[kMarkerIndex] == '*';

  std::string rotated(alphabet);
  if (rotated.size() == 64) {
    const std::string digits(field);
    long r = std::strtol(digits.c_str(), nullptr, 10) % 63;
    if (r < 0) r += 64;  // a negative count turns the other way round the 64 symbols
    if (r != 0) rotated = rotated.substr(static_cast<size_t>(r)) + rotated.substr(0, static_cast<size_t>(r));
  }
  const std::string bytes = DecodeBase64(field.substr(kMarkerIndex + 1), rotated);
  if (!hexText || bytes.empty()) return bytes;
  std::string text(1, bytes[0]);
  for (size_t i = 1; i < bytes.size(); ++i) text += StrFormat("%02X", static_cast<unsigned char>(bytes[i]));
  return text;
}

void DecodeReceiverCode(ClientEntry& entry, std::string_view alphabet) {
  entry.receiverCodeKind = kReceiverCodeNone;
  const std::string field = FieldAt(entry.agent, '.', 4);
  entry.receiverCode = field;
  if (field.empty()) return;

  const size_t at = entry.agent.find(field);
  if (at != std::string::npos && at != 0) entry.agent.erase(at, field.size());

  entry.receiverCodeKind = kReceiverCodePlain;
  if (field.size() > kMarkerIndex && field[kMarkerIndex] == '-') entry.receiverCodeKind = kReceiverCodeCoded;
  if (field.size() > kMarkerIndex && field[kMarkerIndex] == '*') entry.receiverCodeKind = kReceiverCodeSigned;

  const std::string decoded = DecodeReceiverField(field, alphabet);
  if (entry.receiverCodeKind == kReceiverCodeSigned &&
      (decoded.size() < 4 || field.size() < 4 || decoded.compare(decoded.size() - 4, 4, field, 0, 4) != 0)) {
    entry.receiverCodeKind = kReceiverCodeBadSignature;
  }
  entry.receiverCode = decoded;
  entry.agent += decoded;
}
