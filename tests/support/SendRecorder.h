#pragma once
// A socket layer for tests of reply code: the write event copies what the send primitive hands
// it, as the real one would queue it.
#include <cstdint>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"

namespace testsupport {

class SendRecorder : public SocketLayer {
 public:
  struct Sent {
    uint32_t socket;
    std::string bytes;
    bool shared;         // the bytes came as one shared chunk
  };

  explicit SendRecorder(CKavroGyBl& gybl) : gybl_(gybl) { gybl.SetSocketLayer(this); }

  void CloseSocket(uint32_t socket) override { closed.push_back(socket); }
  void OnSocketEvent(uint32_t socket, uint32_t event) override {
    if (event != kFdWrite) return;
    const ClientEntry& e = gybl_.clientTable.at(socket);
    sent.push_back({socket, std::string(reinterpret_cast<const char*>(e.sendData), e.sendLength),
                    e.sendChunk != nullptr});
  }

  std::vector<Sent> sent;
  std::vector<uint32_t> closed;

 private:
  CKavroGyBl& gybl_;
};

}  // namespace testsupport
