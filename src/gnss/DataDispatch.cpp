#include "gnss/DataDispatch.h"

#include <array>
#include <memory>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/RecordFile.h"
#include "gnss/CmrDecoder.h"
#include "gnss/DataFormat.h"
#include "gnss/FormatSearch.h"
#include "gnss/GgaParser.h"
#include "gnss/NearestBase.h"
#include "gnss/RtcaDecoder.h"
#include "gnss/Rtcm3Decoder.h"
#include "gnss/UpstreamService.h"
#include "link/KavroNetClient.h"
#include "reports/KmlTrack.h"

namespace {

constexpr size_t kRecordNameAbove = 8;  // only names longer than this are recorded
constexpr int kLastFormatMode = 8;      // modes 1 to 8: the nearest base of a format
constexpr int kForwardedMode = 9;       // the rover's request went to the upstream caster
constexpr int kFirstUpstreamMode = 11;  // 11 + i: upstream mountpoint i, served by a network server
constexpr const char* kOutside = "VORAN,OUTDIST,\r\n";
constexpr const char* kInside = "VORAN,INDIST,\r\n";

// Outside when below or above both latitude bounds or both longitude bounds, in whatever order they
// are given; a bound itself is inside.
bool OutsideWorkArea(const std::array<double, 4>& bounds, double latitude, double longitude) {
  const auto outside = [](double value, double a, double b) {
    return (value < a && value < b) || (value > a && value > b);
  };
  return outside(latitude, bounds[0], bounds[1]) || outside(longitude, bounds[2], bounds[3]);
}

}  // namespace

void DataDispatch::DispatchData(uint8_t* data, uint32_t count, uint32_t socket) {
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr || entry->userName.empty()) return;
  if (entry->echoMode == 1) gybl_.Send(socket, data, count);
  entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr) return;
  if (entry->clientType == "BASE") {
    BaseSteps(data, count, socket);
  } else {
    // The chunk lies in the rover's reply area, which the texts sent to the rover reuse: the rover
    // steps work on a copy, so that every step that passes the chunk on passes it as received.
    RoverSteps(MakeChunk(data, count), socket);
  }
}

void DataDispatch::BaseSteps(const uint8_t* data, uint32_t count, uint32_t socket) {
  ClientEntry& base = *FindClient(gybl_.clientTable, socket);
  if (gybl_.settings.flags.recordToBase != 0 && base.userName.size() > kRecordNameAbove) {
    NoteRecord("BASE/" + base.userName,
               AppendRecord(gybl_.programDirectory + "BASE/", base.userName, data, count));
  }
  switch (static_cast<DataFormat>(base.dataFormat)) {
    case DataFormat::kUnknown:
      SearchDataFormat(decoders_, base, data, count);
      break;
    case DataFormat::kRtca:
      DecodeRtca(decoders_, base, data, count);
      break;
    case DataFormat::kRtcm30:
    case DataFormat::kRtcm32Msm:
      DecodeRtcm3(decoders_, base, data, count);
      break;
    case DataFormat::kCmr:
    case DataFormat::kScmrx:
      DecodeCmr(decoders_, base, data, count);
      break;
    default:
      break;
  }
  RelayBaseChunk(data, count, socket);
}

void DataDispatch::NoteRecord(const std::string& file, RecordWrite result) {
  if (result != RecordWrite::kPassedOver)
    NoteWrite("Record write failed ", file, result == RecordWrite::kWritten);
}

void DataDispatch::NoteWrite(const char* failureText, const std::string& file, bool written) {
  if (written) {
    writeFailures_.Succeeded(file, gybl_.clock().Now());
  } else if (writeFailures_.First(file, gybl_.clock().Now())) {
    gybl_.Log(failureText + file, kLogRed);
  }
}

void DataDispatch::RelayBaseChunk(const uint8_t* data, uint32_t count, uint32_t socket) {
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
      gybl_.SendText(roverSocket, kOutside);
    } else if (mustNeedGga && rover->roveFlagB == 0) {
      gybl_.SendText(roverSocket, "Waiting for GGA,\r\n");
    } else {
      if (!chunk) chunk = MakeChunk(data, count);
      gybl_.Send(roverSocket, chunk->data(), count, chunk);
    }
  }
  gybl_.counters.Relayed();
}

void DataDispatch::RoverSteps(const SharedChunk& chunk, uint32_t socket) {
  const OptionFlags& flags = gybl_.settings.flags;
  const auto count = static_cast<uint32_t>(chunk->size());
  ClientEntry* rover = FindClient(gybl_.clientTable, socket);
  if (flags.recordToProgramDirectory != 0 && rover->userName.size() > kRecordNameAbove) {
    NoteRecord(rover->userName, AppendRecord(gybl_.programDirectory, rover->userName, chunk->data(), count));
  }

  double latitude = 0.0;
  double longitude = 0.0;
  double height = 0.0;
  if (ParseGga(gybl_, decoders_, chunk->data(), count, socket, latitude, longitude, height) == 1 &&
      latitude != 0.0 && longitude != 0.0) {
    RoverPosition(chunk, socket, latitude, longitude, height);
  }

  // The rover's own bytes to its base, with or without a position.
  rover = FindClient(gybl_.clientTable, socket);
  if (flags.pushToSubscribers == 0 || rover == nullptr) return;
  std::vector<uint32_t> bases;
  for (const auto& [base, name] : rover->links) bases.push_back(base);
  for (uint32_t base : bases) gybl_.Send(base, chunk->data(), count, chunk);
}

void DataDispatch::RoverPosition(const SharedChunk& chunk, uint32_t socket, double latitude, double longitude,
                                 double height) {
  const OptionFlags& flags = gybl_.settings.flags;
  ClientEntry* rover = FindClient(gybl_.clientTable, socket);
  if (rover == nullptr) return;
  rover->roveFlagB = 1;
  if (flags.writeKml != 0) {
    const LocalTime now = gybl_.clock().Now();
    const int written =
        AddKmlPoint(gybl_.programDirectory + "KML/", now, rover->userName, latitude, longitude, height);
    NoteWrite("KML write failed ", "KML/" + KmlFileName(now), written == 1);
  }
  rover->position = {latitude, longitude, height};
  gybl_.monitor().OnMap(kMapRoverPosition, rover);

  const std::array<double, 4>& bounds = rover->areaBounds;
  if (flags.useWorkAreas != 0 && bounds[0] != 0.0 && bounds[2] != 0.0) {
    if (OutsideWorkArea(bounds, latitude, longitude)) {
      rover->roveFlagA = 1;
      gybl_.SendText(socket, kOutside);
    } else {
      if (rover->roveFlagA == 1) gybl_.SendText(socket, kInside);
      if (ClientEntry* still = FindClient(gybl_.clientTable, socket)) still->roveFlagA = 0;
    }
    rover = FindClient(gybl_.clientTable, socket);
    if (rover == nullptr) return;
  }

  const int mode = rover->dataFormat;
  if (mode >= 1 && mode <= kLastFormatMode) {
    ChooseNearestBase(gybl_.clientTable, flags, socket);
  } else if (mode == kForwardedMode) {
    const std::shared_ptr<CKavroNetClient> client = rover->netClient;
    if (client) client->SendBytes(chunk->data(), static_cast<int>(chunk->size()));
  } else if (mode >= kFirstUpstreamMode) {
    const std::shared_ptr<CKavroNetClient> client = rover->netClient;
    if (client && client->IsConnected() != 0 && rover->closeReason == 0) {
      client->SendBytes(chunk->data(), static_cast<int>(chunk->size()));
    } else if (!rover->upstreamConnecting) {
      ServeUpstream(chunk, socket, 0, false);
    }
  }
}

void DataDispatch::ServeUpstream(const SharedChunk& chunk, uint32_t socket, int from, bool tried) {
  ClientEntry* rover = FindClient(gybl_.clientTable, socket);
  if (rover == nullptr) return;
  const int slot =
      ChooseUpstreamSlot(gybl_.settings.links, gybl_.linkSlots, rover->position[0], rover->position[1], from);
  if (slot < 0) {
    rover->upstreamConnecting = false;
    // Only when no slot qualified: a covering server that could not be reached says nothing.
    if (!tried) gybl_.SendText(socket, kOutside);
    return;
  }
  const auto mount = static_cast<size_t>(rover->dataFormat - kFirstUpstreamMode);
  const std::string line = GetModeLine(mount < gybl_.mounts.size() ? gybl_.mounts[mount]->name : "", *rover);
  const LinkSlot& server = gybl_.settings.links[static_cast<size_t>(slot)];
  // Later chunks start no second connect while this one is pending; the triggering chunk is kept.
  rover->upstreamConnecting = true;
  services_.ConnectNetServer(socket, server.address, server.port, [this, chunk, socket, slot, line](bool connected) {
    ClientEntry* waiting = FindClient(gybl_.clientTable, socket);
    if (waiting == nullptr) return;
    if (!connected) {
      ServeUpstream(chunk, socket, slot + 1, true);
      return;
    }
    waiting->upstreamConnecting = false;
    const std::shared_ptr<CKavroNetClient> client = waiting->netClient;
    if (!client) return;
    client->SendText(line);
    client->SendBytes(chunk->data(), static_cast<int>(chunk->size()));
  });
}
