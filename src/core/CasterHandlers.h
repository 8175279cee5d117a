#pragma once
// The request and data handlers of the caster: NTRIP sources and rovers, the receivers' device lines,
// and the data of established connections.
#include "core/RequestClassifier.h"
#include "gnss/DataDispatch.h"

class AccountServices;
class CKavroGyBl;
class NtripServices;

class CasterHandlers : public RequestHandlers {
 public:
  // decoders: the sinks of the stream decoders and of the GGA handling.
  CasterHandlers(CKavroGyBl& gybl, AccountServices& accounts, NtripServices& services,
                 DecoderContext& decoders)
      : gybl_(gybl), accounts_(accounts), services_(services), dispatch_(gybl, decoders, services) {}

  int HandleDeviceLine(char* request, uint32_t socket) override;
  int HandleGetRequest(char* request, uint32_t socket) override;
  int HandleSourceRequest(char* request, uint32_t socket) override;
  int HandlePostRequest(char* request, uint32_t socket) override;
  void UploadEnded(uint32_t socket, bool malformed) override;
  // The data of established connections, handled by the data dispatch.
  void DispatchData(uint8_t* data, uint32_t count, uint32_t socket) override;

 private:
  CKavroGyBl& gybl_;
  AccountServices& accounts_;
  NtripServices& services_;
  DataDispatch dispatch_;
};
