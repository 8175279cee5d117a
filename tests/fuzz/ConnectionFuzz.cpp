// Two connections over their whole life: each piece of the input goes to one of them through the
// request classifier and the caster's handlers (GET, SOURCE, device lines, data dispatch), with the
// real sourcetable replies and no accounts. A connection that was closed connects again.
#include <arpa/inet.h>

#include "app/KavroGyBl.h"
#include "core/CasterHandlers.h"
#include "core/Housekeeping.h"
#include "core/Messages.h"
#include "core/RequestClassifier.h"
#include "core/ntrip/SourcetableReply.h"
#include "fuzz/DecoderBench.h"
#include "support/NoAccounts.h"
#include "support/QuietServices.h"

namespace {

// Takes every send whole, as the write queue would, and closes on the close event.
class Sockets : public SocketLayer {
 public:
  explicit Sockets(CKavroGyBl& gybl) : gybl_(gybl) {}
  void CloseSocket(uint32_t) override {}
  void OnSocketEvent(uint32_t socket, uint32_t event) override {
    if (event == kFdClose) {
      gybl_.Close(socket, CloseReason::kPeerClosed);
      return;
    }
    const ClientEntry& entry = gybl_.clientTable.at(socket);
    for (uint32_t i = 0; i < entry.sendLength; ++i) sum += entry.sendData[i];  // every byte must be readable
  }
  unsigned sum = 0;

 private:
  CKavroGyBl& gybl_;
};

// Sourcetable answers as the caster composes them; the upstream caster never answers.
class Services : public testsupport::QuietServices {
 public:
  explicit Services(CKavroGyBl& gybl) : gybl_(gybl) {}
  void Sourcetable(uint32_t socket, double minLat, double maxLat, double minLon, double maxLon) override {
    ::Sourcetable(gybl_, socket, minLat, maxLat, minLon, maxLon);
  }
  void FilteredSourcetable(const std::string& path, uint32_t socket) override {
    ::FilteredSourcetable(gybl_, path, socket);
  }

 private:
  CKavroGyBl& gybl_;
};

constexpr int kFramerBound = 16384;

int Length(const std::unique_ptr<CBuffer>& buffer) { return buffer ? buffer->Length() : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
  const uint8_t options = input.TakeByte();
  ManualClock clock({2015, 2, 1, 2, 9, 5, 7, 0});
  fuzz::QuietMonitor monitor;
  ServiceSteps steps;
  Settings settings;
  settings.flags.passwordProtection = (options >> 1) & 1;
  settings.flags.fixedBase = (options >> 2) & 1;
  settings.flags.movingBase = (options >> 3) & 1;
  settings.flags.positionManagement = (options >> 4) & 1;
  CKavroGyBl gybl(std::move(settings), clock, monitor, steps);
  Sockets sockets(gybl);
  gybl.SetSocketLayer(&sockets);
  gybl.serviceRunning = 1;
  gybl.buildNumber = 150202;
  if ((options >> 5) & 1) gybl.InsertTestBase();

  testsupport::NoAccounts accounts(gybl.settings.flags);
  Services services(gybl);
  fuzz::BenchConsole console;
  console.on = (options & 1) != 0;
  PositionRecorder recorder;
  DecoderContext decoders{monitor, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers(gybl, accounts, services, decoders);
  RequestClassifier classifier(gybl.clientTable, handlers);
  Housekeeping housekeeping(gybl);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(0x0A000009);
  input.FeedPieces(8, [&](const uint8_t* piece, size_t n, uint8_t lengthByte) {
    const uint32_t socket = 5 + (lengthByte >> 7);
    if (FindClient(gybl.clientTable, socket) == nullptr) gybl.Accept(socket, peer);
    ClientEntry& entry = gybl.clientTable.at(socket);
    entry.recvData = piece;
    entry.recvLength = static_cast<uint32_t>(n);
    if (classifier.Receive(socket, static_cast<uint32_t>(n), piece) == 0) gybl.Close(socket, CloseReason::kRefused);
    if (const ClientEntry* after = FindClient(gybl.clientTable, socket)) {
      fuzz::Require(Length(after->getBuffer) <= kFramerBound && Length(after->sourceBuffer) <= kFramerBound &&
                        Length(after->deviceBuffer) <= kFramerBound && Length(after->streamBuffer) <= kFramerBound,
                    "framer buffer over its bound");
    }
    if ((lengthByte & 0x7F) == 0x7F) housekeeping.OnTick();
  });
  gybl.CloseAll();
  return 0;
}
