#include "core/CasterHandlers.h"

#include <cstring>
#include <string_view>

#include "core/device/DeviceCommands.h"
#include "core/ntrip/PostRequest.h"
#include "core/ntrip/RoverRequest.h"
#include "core/ntrip/SourceRequest.h"

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

int CasterHandlers::HandlePostRequest(char* request, uint32_t socket) {
  return ::HandlePostRequest(gybl_, accounts_, services_, std::string_view(request, std::strlen(request)),
                             socket);
}

void CasterHandlers::UploadEnded(uint32_t socket, bool malformed) { EndUpload(gybl_, socket, malformed); }

void CasterHandlers::DispatchData(uint8_t* data, uint32_t count, uint32_t socket) {
  dispatch_.DispatchData(data, count, socket);
}
