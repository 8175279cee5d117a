// ParseGga on a rover's stream delivered in pieces, with a position monitor ("GETGGA") connected so
// that accepted sentences are fed on.
#include <netinet/in.h>

#include <cmath>

#include "app/KavroGyBl.h"
#include "fuzz/DecoderBench.h"
#include "gnss/GgaParser.h"
#include "support/SendRecorder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
  const uint8_t options = input.TakeByte();
  ManualClock clock({2015, 2, 1, 2, 9, 5, 7, 0});
  fuzz::QuietMonitor monitor;
  ServiceSteps steps;
  Settings settings;
  settings.flags.positionManagement = (options >> 2) & 1;
  CKavroGyBl gybl(std::move(settings), clock, monitor, steps);
  testsupport::SendRecorder sends(gybl);
  gybl.Accept(7, sockaddr_in{});
  gybl.clientTable.at(7).userName = "rover1";
  gybl.clientTable.at(7).clientType = "NTRIP";
  gybl.Accept(8, sockaddr_in{});
  gybl.clientTable.at(8).clientType = "GETGGA";

  fuzz::BenchConsole console;
  console.on = (options & 1) != 0;
  PositionRecorder recorder;
  const int saveGga = (options >> 1) & 1;
  DecoderContext context{monitor, console, recorder, saveGga};
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t) {
    double latitude = 0, longitude = 0, height = 0;
    const int accepted = ParseGga(gybl, context, piece, static_cast<uint32_t>(n), 7, latitude, longitude, height);
    const ClientEntry& rover = gybl.clientTable.at(7);
    fuzz::Require(rover.streamBuffer->Length() <= kGgaBufferLimit, "GGA buffer over its bound");
    if (accepted == 1 && latitude != 0.0)
      fuzz::Require(std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 360.0, "accepted position out of range");
  });
  return 0;
}
