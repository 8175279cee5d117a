#include "link/NdkClient.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <cstring>
#include <utility>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace NDKSCOCK {

void CNDKMessage::SetBytes(const void* bytes, int count) {
  if (count < 0 || count > kMaxBytes) return;
  if (count > 0) std::memcpy(data.data(), bytes, static_cast<size_t>(count));
  length = count;
}

// The socket of one connection with its read area and write queue. Completion handlers hold it by
// shared pointer, so an operation in flight never outlives the memory it uses.
class CNDKClientSocket {
 public:
  CNDKClientSocket(tcp::socket s, size_t queueBound) : socket(std::move(s)), queue(queueBound) {}

  int fd() { return static_cast<int>(socket.native_handle()); }

  // Closes the socket after a last non-blocking try for what still waits in the queue.
  void Shut() {
    if (!socket.is_open()) return;
    int error = 0;
    if (!queue.Empty()) queue.Flush(fd(), error);
    queue.Clear();
    boost::system::error_code ignored;
    socket.close(ignored);
  }

  tcp::socket socket;
  WriteQueue queue;
  CNDKMessage message;  // read area
  bool writeWaiting = false;
};

// A connect in progress.
struct CNDKClient::Attempt {
  Attempt(const asio::any_io_executor& executor, ConnectHandler handler)
      : socket(executor), done(std::move(handler)) {}
  tcp::socket socket;
  ConnectHandler done;
};

CNDKClient::CNDKClient(asio::any_io_executor executor)
    : executor_(std::move(executor)), life_(std::make_shared<char>()) {}

CNDKClient::~CNDKClient() {
  // The owner has closed the connection already, so nothing is reported here.
  life_.reset();
  boost::system::error_code ignored;
  if (attempt_) attempt_->socket.close(ignored);
  if (clientSocket) clientSocket->Shut();
}

void CNDKClient::AbortAttempt() {
  if (!attempt_) return;
  // Its completion runs with operation_aborted, finds it no longer current and reports 0.
  const std::shared_ptr<Attempt> attempt = std::move(attempt_);
  attempt_.reset();
  boost::system::error_code ignored;
  attempt->socket.close(ignored);
}

void CNDKClient::InternalClose(DisconnectReason reason) {
  if (!clientSocket) return;
  const std::shared_ptr<CNDKClientSocket> gone = std::move(clientSocket);
  clientSocket.reset();
  gone->Shut();
  ConnectionClosed(reason);
}

void CNDKClient::Connect(const std::string& address, int port, ConnectHandler done) {
  const std::weak_ptr<char> alive = life_;
  AbortAttempt();
  InternalClose(ClosedByOwner);
  if (alive.expired()) return;  // destroyed by the owner while told of the close
  AbortAttempt();               // one the owner may have started while told of the close

  // Numeric addresses only: make_address parses, it never asks a name service.
  boost::system::error_code error;
  asio::ip::address ip;
  if (!address.empty()) ip = asio::ip::make_address(address, error);
  if (address.empty() || error || port < 0 || port > 65535) {
    asio::post(executor_, [alive, done = std::move(done)] {
      if (!alive.expired() && done) done(0);
    });
    return;
  }

  const auto attempt = std::make_shared<Attempt>(executor_, std::move(done));
  attempt_ = attempt;
  const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
  attempt->socket.async_connect(endpoint, [this, alive, attempt](const boost::system::error_code& e) {
    if (alive.expired()) return;
    ConnectHandler handler = std::move(attempt->done);
    if (attempt != attempt_ || e) {
      if (attempt == attempt_) attempt_.reset();
      if (handler) handler(0);
      return;
    }
    attempt_.reset();
    clientSocket = std::make_shared<CNDKClientSocket>(std::move(attempt->socket), queueBound_);
    sendFailures = 0;
    StartRead(clientSocket);
    if (handler) handler(1);
  });
}

void CNDKClient::Close() {
  AbortAttempt();
  InternalClose(ClosedByOwner);
}

int CNDKClient::IsConnected() const { return clientSocket ? 1 : 0; }

size_t CNDKClient::QueuedBytes() const { return clientSocket ? clientSocket->queue.Bytes() : 0; }

void CNDKClient::StartRead(const std::shared_ptr<CNDKClientSocket>& socket) {
  auto done = [this, alive = std::weak_ptr<char>(life_), socket](const boost::system::error_code& error,
                                                                 size_t count) {
    if (!alive.expired()) OnRead(socket, error, count);
  };
  socket->socket.async_read_some(asio::buffer(socket->message.data.data(), CNDKMessage::kMaxBytes), done);
}

void CNDKClient::OnRead(const std::shared_ptr<CNDKClientSocket>& socket,
                        const boost::system::error_code& error, size_t count) {
  if (socket != clientSocket) return;  // a connection closed meanwhile
  if (error == asio::error::eof) {
    InternalClose(ClosedByPeer);
    return;
  }
  if (error) {
    InternalClose(ReceiveFailed);
    return;
  }
  socket->message.length = static_cast<int32_t>(count);
  const std::weak_ptr<char> alive = life_;
  MessageReceived(socket->message);
  // The owner may have closed, reconnected or destroyed the client during the call.
  if (alive.expired() || socket != clientSocket) return;
  StartRead(socket);
}

int CNDKClient::Send(const CNDKMessage& message) {
  return SendData(message.Data(), static_cast<size_t>(message.Length()));
}

int CNDKClient::SendData(const uint8_t* bytes, size_t count) {
  if (!clientSocket) return 0;
  int error = 0;
  switch (clientSocket->queue.Offer(clientSocket->fd(), bytes, count, {}, error)) {
    case WriteQueue::OfferResult::kQueued:
      WaitWritable(clientSocket);
      [[fallthrough]];
    case WriteQueue::OfferResult::kSent:
      sendFailures = 0;
      return 1;
    case WriteQueue::OfferResult::kDropped:
    case WriteQueue::OfferResult::kFailed:
      break;
  }
  CountSendFailure();
  return 0;
}

void CNDKClient::CountSendFailure() {
  if (++sendFailures > 2) InternalClose(SendFailed);
}

void CNDKClient::WaitWritable(const std::shared_ptr<CNDKClientSocket>& socket) {
  if (socket->writeWaiting) return;
  socket->writeWaiting = true;
  socket->socket.async_wait(tcp::socket::wait_write, [this, alive = std::weak_ptr<char>(life_),
                                                      socket](const boost::system::error_code& e) {
    socket->writeWaiting = false;
    if (alive.expired() || socket != clientSocket || e) return;
    int error = 0;
    switch (socket->queue.Flush(socket->fd(), error)) {
      case WriteQueue::FlushResult::kDone:
        break;
      case WriteQueue::FlushResult::kPending:
        WaitWritable(socket);
        break;
      case WriteQueue::FlushResult::kFailed:
        // What was queued is lost with the broken socket; it counts as a failed send.
        socket->queue.Clear();
        CountSendFailure();
        break;
    }
  });
}

}  // namespace NDKSCOCK
