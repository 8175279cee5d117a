#pragma once
// The data of established connections: a base's chunk is recorded, decoded and relayed to the rovers
// it feeds; a rover's chunk is read for its position, which fences the rover by its work area and
// serves it by its mode.
#include <cstdint>
#include <string>

#include "core/RecordFile.h"
#include "core/SharedChunk.h"
#include "core/WriteFailures.h"
#include "core/ntrip/NtripServices.h"
#include "gnss/DecoderContext.h"

class CKavroGyBl;

class DataDispatch {
 public:
  // decoders: the sinks of the stream decoders and of the GGA handling.
  // services: the outgoing connections of rovers served through an upstream network server.
  DataDispatch(CKavroGyBl& gybl, DecoderContext& decoders, NtripServices& services)
      : gybl_(gybl), decoders_(decoders), services_(services) {}

  // Echo, then a base's chunk is recorded, decoded and relayed, a rover's read for its position.
  void DispatchData(uint8_t* data, uint32_t count, uint32_t socket);

 private:
  void BaseSteps(const uint8_t* data, uint32_t count, uint32_t socket);
  // Sends a base's chunk, unchanged, to each rover it feeds (or the rover's notice instead).
  void RelayBaseChunk(const uint8_t* data, uint32_t count, uint32_t socket);
  void RoverSteps(const SharedChunk& chunk, uint32_t socket);
  // A rover's accepted position: track, work-area fence and service by its mode.
  void RoverPosition(const SharedChunk& chunk, uint32_t socket, double latitude, double longitude,
                     double height);
  // Connects a rover on an upstream mountpoint to the first covering server from slot `from` on, then
  // sends it the GETMODE line and the chunk; a failed connect tries the next slot. Without any covering
  // server (and none tried) the rover is told it is outside.
  void ServeUpstream(const SharedChunk& chunk, uint32_t socket, int from, bool tried);

  // The result of a record file's chunk; file is named from the program directory.
  void NoteRecord(const std::string& file, RecordWrite result);
  // A file write's outcome: a failure gives one red line per file and day; the data goes on.
  void NoteWrite(const char* failureText, const std::string& file, bool written);

  CKavroGyBl& gybl_;
  DecoderContext& decoders_;
  NtripServices& services_;
  WriteFailures writeFailures_;
};
