#include "app/CasterHandlers.h"

#include <cstring>
#include <vector>

#include "app/DeviceCommands.h"
#include "app/KavroGyBl.h"
#include "app/RoverRequest.h"
#include "app/SourceRequest.h"
#include "core/SharedChunk.h"

int CasterHandlers::HandleDeviceLine(char* request, uint32_t socket) {
  return ::HandleDeviceLine(gybl_, accounts_, std::string_view(request, std::strlen(request)), socket);
}

int CasterHandlers::HandleGetRequest(char* request, uint32_t socket) {
  return ::HandleGetRequest(gybl_, accounts_, services_, std::string_view(request, std::strlen(request)),
                            socket);
}

int CasterHandlers::HandleSourceRequest(char* request, uint32_t socket) {
  return ::HandleSourceRequest(gybl_, accounts_, services_, std::string_view(request, std::strlen(request)),
                               socket);
}

void CasterHandlers::DispatchData(uint8_t* data, uint32_t count, uint32_t socket) {
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr || entry->userName.empty()) return;
  if (entry->echoMode == 1) gybl_.Send(socket, data, count);
  entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr) return;
  if (entry->clientType == "BASE") RelayBaseChunk(data, count, socket);
}

void CasterHandlers::RelayBaseChunk(const uint8_t* data, uint32_t count, uint32_t socket) {
  ClientEntry* base = FindClient(gybl_.clientTable, socket);
  if (base == nullptr || base->links.empty()) return;
  // Sending may close a rover and change the links: walk a copy of the sockets.
  std::vector<uint32_t> rovers;
  rovers.reserve(base->links.size());
  for (const auto& [rover, name] : base->links) rovers.push_back(rover);

  const bool mustNeedGga = gybl_.settings.flags.mustNeedGga != 0;
  SharedChunk chunk;  // one copy of the chunk for every queue that has to keep it
  for (uint32_t roverSocket : rovers) {
    ClientEntry* rover = FindClient(gybl_.clientTable, roverSocket);
    if (rover == nullptr) continue;
    if (rover->roveFlagA == 1) {
      gybl_.SendText(roverSocket, "VORAN,OUTDIST,\r\n");
    } else if (mustNeedGga && rover->roveFlagB == 0) {
      gybl_.SendText(roverSocket, "Waiting for GGA,\r\n");
    } else {
      if (!chunk) chunk = MakeChunk(data, count);
      gybl_.Send(roverSocket, chunk->data(), count, chunk);
    }
  }
}
