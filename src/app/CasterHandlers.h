#pragma once
// The request and data handlers of the caster: NTRIP sources and rovers, the receivers' device lines,
// and the data of established connections.
#include "core/RequestClassifier.h"

class AccountServices;
class CKavroGyBl;
class NtripServices;

class CasterHandlers : public RequestHandlers {
 public:
  CasterHandlers(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services)
      : gybl_(gybl), accounts_(accounts), services_(services) {}

  int HandleDeviceLine(char* request, uint32_t socket) override;
  int HandleGetRequest(char* request, uint32_t socket) override;
  int HandleSourceRequest(char* request, uint32_t socket) override;
  void DispatchData(uint8_t* data, uint32_t count, uint32_t socket) override;

 private:
  // Sends a base's chunk, unchanged, to each rover it feeds (or the rover's notice instead).
  void RelayBaseChunk(const uint8_t* data, uint32_t count, uint32_t socket);

  CKavroGyBl& gybl_;
  AccountServices& accounts_;
  NtripServices& services_;
};
