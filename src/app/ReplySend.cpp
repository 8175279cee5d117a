#include "app/ReplySend.h"

#include <cstring>

#include "app/KavroGyBl.h"
#include "core/SharedChunk.h"

void SendComposed(CKavroGyBl& gybl, uint32_t socket, const std::string& text) {
  ClientEntry* entry = FindClient(gybl.clientTable, socket);
  if (entry == nullptr) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<uint32_t>(text.size());
  // The area keeps room for a terminating zero, as every reply composed there does.
  if (text.size() < entry->outBuffer.size()) {
    std::memcpy(entry->outBuffer.data(), bytes, text.size());
    entry->outBuffer[text.size()] = 0;
    gybl.Send(socket, entry->outBuffer.data(), length);
    return;
  }
  const SharedChunk chunk = MakeChunk(bytes, text.size());
  gybl.Send(socket, chunk->data(), length, chunk);
}
