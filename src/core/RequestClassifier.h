#pragma once
// Frames requests out of a connection's input. Each chunk is copied into one buffer per protocol
// still possible for the connection (device lines "VORAN", NTRIP "GET", NTRIP "SOURCE"); complete
// requests go to their handlers, every other byte to the data handler. An NTRIP 2 "POST" upload is
// framed from the GET copy, where the input of a new connection begins.
#include <array>
#include <cstdint>
#include <string>

#include "core/ClientEntry.h"

// The handlers behind the framers. Request handlers get the zero-terminated request text and
// the socket and return 1 to keep the connection or 0 to have it closed.
class RequestHandlers {
 public:
  virtual ~RequestHandlers() = default;
  virtual int HandleDeviceLine(char* request, uint32_t socket) = 0;
  virtual int HandleGetRequest(char* request, uint32_t socket) = 0;
  virtual int HandleSourceRequest(char* request, uint32_t socket) = 0;
  // Bytes that are not part of a request, in the classifier's pass-on area.
  virtual void DispatchData(uint8_t* data, uint32_t count, uint32_t socket) = 0;
  // An NTRIP 2 upload: a "POST" header block at the start of an undecided connection's input. A
  // handler that accepts it makes the connection a source (state 3) and marks it an HTTP upload.
  virtual int HandlePostRequest(char* /*request*/, uint32_t /*socket*/) { return 0; }
  // The chunked body of an upload ended: its framing was malformed, or its last chunk came.
  virtual void UploadEnded(uint32_t /*socket*/, bool /*malformed*/) {}
};

// Handlers that refuse every request and drop all data.
class RefusingHandlers : public RequestHandlers {
 public:
  int HandleDeviceLine(char*, uint32_t) override { return 0; }
  int HandleGetRequest(char*, uint32_t) override { return 0; }
  int HandleSourceRequest(char*, uint32_t) override { return 0; }
  void DispatchData(uint8_t*, uint32_t, uint32_t) override {}
};

class RequestClassifier {
 public:
  static constexpr uint32_t kRequestAreaSize = 8095;
  static constexpr int kReceiveTrim = 5000;
  static constexpr int kPassTrim = 4000;
  static constexpr int kDeviceLineLimit = 200;

  // gridNotify is called after bytes were counted (the grid's counters changed).
  using GridNotify = void (*)(void* context, ClientEntry& entry);

  RequestClassifier(ClientTable& table, RequestHandlers& handlers) : table_(table), handlers_(handlers) {}

  void SetHandlers(RequestHandlers& handlers) { handlers_ = handlers; }
  void SetGridNotify(GridNotify notify, void* context) {
    gridNotify_ = notify;
    gridContext_ = context;
  }

  // One received chunk of a connection. Returns 0 to have the connection closed as refused.
  int Receive(uint32_t socket, uint32_t count, const uint8_t* bytes);

  // Handles again the request of a connection that waited for the database, then what arrived behind
  // it. Returns 0 to have the connection closed as refused.
  int Resume(uint32_t socket);

  const char* RequestArea() const { return requestArea_.data(); }

 private:
  enum class Framer { kDevice, kGet, kSource, kPost };
  // Runs every framer still reading the connection; getHandled: a GET request was just handled.
  int RunFramers(uint32_t socket, bool getHandled);
  int RunFramer(Framer framer, uint32_t socket, bool requestHandled = false);
  int CallHandler(Framer framer, uint32_t socket);
  // True when the handler left the connection waiting for the database; the request is kept for Resume.
  bool Waiting(Framer framer, uint32_t socket);
  // Passes the first n bytes of a framer buffer on; false when the connection went away.
  bool PassOn(Framer framer, uint32_t socket, int n);
  void ReleaseIdleBuffers(ClientEntry& entry);
  // Moves n bytes of the buffer into the request area and terminates them.
  void TakeRequest(CBuffer& buffer, int n);
  // A POST header block at the front of the GET framer's buffer: handled when complete. Returns the
  // framer's result.
  int FramePost(CBuffer& buffer, uint32_t socket);
  // An accepted upload's body, which came behind its header into the GET framer's buffer, moves to
  // the SOURCE framer, which reads sources.
  void AdoptUploadBody(uint32_t socket);

  ClientTable& table_;
  std::reference_wrapper<RequestHandlers> handlers_;
  GridNotify gridNotify_ = nullptr;
  void* gridContext_ = nullptr;
  std::array<char, kRequestAreaSize + 1> requestArea_{};
  // Bytes passed on to the data handler; one area for all connections, as handlers run one at a time.
  std::array<uint8_t, kRequestAreaSize> passArea_;
  bool passing_ = false;
};
