#pragma once
// Client side of the message-socket library: one outgoing TCP connection whose received blocks and
// end reach the owner through virtual notifications. Everything runs on the thread that runs the
// executor the client was given: connects complete there, notifications arrive there, and the owner
// calls the client (and destroys it) only there. No framing of its own: bytes go out as given, and each
// read becomes one message.
#include <array>
#include <boost/asio/any_io_executor.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/WriteQueue.h"

namespace NDKSCOCK {

// Why a connection ended: the argument of ConnectionClosed.
enum DisconnectReason : int {
  ClosedByOwner = 0,  // Close, the close inside Connect
  ClosedByPeer = 1,
  SendFailed = 3,     // the third failed send in a row
  ReceiveFailed = 4,  // a failed read
};

// One block of bytes: what one read returned, or what one send writes.
class CNDKMessage {
 public:
  static constexpr int kCapacity = 8192;
  static constexpr int kMaxBytes = 8096;  // the most SetBytes takes and one read delivers

  virtual ~CNDKMessage() = default;

  // Copies count bytes when count is 0 to 8096; any other count leaves the message unchanged.
  void SetBytes(const void* bytes, int count);
  int Length() const { return length; }
  const uint8_t* Data() const { return data.data(); }

 private:
  friend class CNDKClient;
  std::array<uint8_t, kCapacity> data;
  int32_t length = 0;
};

class CNDKClientSocket;

class CNDKClient {
 public:
  // Receives 1 when the connection is made, 0 when it is not.
  using ConnectHandler = std::function<void(int connected)>;

  explicit CNDKClient(boost::asio::any_io_executor executor);
  virtual ~CNDKClient();
  CNDKClient(const CNDKClient&) = delete;
  CNDKClient& operator=(const CNDKClient&) = delete;

  // Closes the current connection (ClosedByOwner, reported before this returns), then connects to a
  // numeric IPv4 or IPv6 address; names are never looked up. `done` gets the result later on the
  // executor's thread, unless the client is destroyed first. A later Connect or Close ends a pending
  // attempt with 0.
  void Connect(const std::string& address, int port, ConnectHandler done);
  // Ends a pending attempt and closes the connection (ClosedByOwner).
  void Close();
  // 1 while a connection exists, else 0 (also while a connect is pending).
  int IsConnected() const;
  // Writes the message whole or queues it whole: 1. 0 when unconnected or when the send failed (the
  // queue is full or the socket reported an error); the third failure in a row closes with SendFailed.
  int Send(const CNDKMessage& message);

  // Byte bound of the write queue of connections made from now on.
  void SetQueueBound(size_t bound) { queueBound_ = bound; }
  // Bytes waiting for the kernel to take them.
  size_t QueuedBytes() const;
  const boost::asio::any_io_executor& executor() const { return executor_; }

 protected:
  // A block received; the message is valid only during the call.
  virtual void MessageReceived(const CNDKMessage& message) = 0;
  // The connection ended; called once per connection, after it is gone. The owner may destroy the
  // client inside this call.
  virtual void ConnectionClosed(DisconnectReason reason) = 0;
  // Send of count raw bytes, with the result and failure counting of Send.
  int SendData(const uint8_t* bytes, size_t count);

 private:
  struct Attempt;

  void AbortAttempt();
  // Drops the connection and reports it; the report is the last thing done, so callers return at once.
  void InternalClose(DisconnectReason reason);
  void CountSendFailure();
  void StartRead(const std::shared_ptr<CNDKClientSocket>& socket);
  void OnRead(const std::shared_ptr<CNDKClientSocket>& socket, const boost::system::error_code& error,
              size_t count);
  void WaitWritable(const std::shared_ptr<CNDKClientSocket>& socket);

  boost::asio::any_io_executor executor_;
  std::shared_ptr<CNDKClientSocket> clientSocket;
  std::shared_ptr<Attempt> attempt_;
  int32_t sendFailures = 0;
  size_t queueBound_ = WriteQueue::kDefaultBound;
  // Expires with the client: completion handlers check it before they touch the client.
  std::shared_ptr<char> life_;
};

}  // namespace NDKSCOCK
