#pragma once
// The request and data handlers of the caster: NTRIP sources and rovers, the receivers' device lines,
// and the data of established connections.
#include "core/RequestClassifier.h"
#include "core/SharedChunk.h"
#include "gnss/DecoderContext.h"

class AccountServices;
class CKavroGyBl;
class NtripServices;

class CasterHandlers : public RequestHandlers {
 public:
  // decoders: the sinks of the stream decoders and of the GGA handling.
  CasterHandlers(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                 DecoderContext& decoders)
      : gybl_(gybl), accounts_(accounts), services_(services), decoders_(decoders) {}

  int HandleDeviceLine(char* request, uint32_t socket) override;
  int HandleGetRequest(char* request, uint32_t socket) override;
  int HandleSourceRequest(char* request, uint32_t socket) override;
  // Echo, then a base's chunk is recorded, decoded and relayed, a rover's read for its position.
  void DispatchData(uint8_t* data, uint32_t count, uint32_t socket) override;

 private:
  void BaseSteps(const uint8_t* data, uint32_t count, uint32_t socket);
  // Sends a base's chunk, unchanged, to each rover it feeds (or the rover's notice instead).
  void RelayBaseChunk(const uint8_t* data, uint32_t count, uint32_t socket);
  void RoverSteps(const SharedChunk& chunk, uint32_t socket);
  // A rover's accepted position: track, work-area fence and service by its mode.
  void RoverPosition(const SharedChunk& chunk, uint32_t socket, double latitude, double longitude,
                     double height);

  CKavroGyBl& gybl_;
  AccountServices& accounts_;
  NtripServices& services_;
  DecoderContext& decoders_;
};
