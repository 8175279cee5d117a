// Base64 credentials and the receiver code of an agent text, both taken from a client's request.
#include <string>

#include "app/Settings.h"
#include "core/ClientEntry.h"
#include "core/ntrip/Base64.h"
#include "core/ntrip/ReceiverCode.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = DecodeBase64(text);
  fuzz::Require(decoded.size() <= size * 3 / 4 + 3, "decoded credentials longer than the text allows");
  // What is encoded decodes to itself.
  fuzz::Require(DecodeBase64(EncodeBase64(text)) == text, "Base64 round trip");

  DecodeReceiverField(text, kDefaultReceiverAlphabet);
  ClientEntry entry;
  entry.agent.assign(text);
  DecodeReceiverCode(entry, kDefaultReceiverAlphabet);
  return 0;
}
