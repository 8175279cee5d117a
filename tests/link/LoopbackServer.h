#pragma once
// A listening socket on 127.0.0.1 port 0 for tests of outgoing connections, with non-blocking accept.
// Unlistened, it keeps a port bound where every connect is refused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "support/Loopback.h"

namespace testsupport {

class LoopbackServer {
 public:
  // receiveBuffer > 0 gives accepted sockets a small receive buffer, so a peer that stops reading
  // fills up quickly.
  explicit LoopbackServer(bool listening = true, int receiveBuffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (listening) listen(fd_, 8);
    fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~LoopbackServer() {
    for (int fd : accepted_) close(fd);
    close(fd_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }

  // A waiting connection, non-blocking; -1 when none waits.
  int TryAccept() {
    const int fd = accept(fd_, nullptr, nullptr);
    if (fd < 0) return -1;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    accepted_.push_back(fd);
    return fd;
  }
  // Waits without running any io_context, for a client on another thread; -1 at the deadline.
  int AcceptWithin(std::chrono::milliseconds deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(deadline.count())) <= 0) return -1;
    return TryAccept();
  }
  // Runs io until a connection can be accepted; -1 at the deadline.
  int Accept(boost::asio::io_context& io) {
    int fd = -1;
    RunUntil(io, [&] { return (fd = TryAccept()) >= 0; });
    return fd;
  }
  // Closes an accepted socket; with reset, the peer gets a connection reset instead of an end of stream.
  void Drop(int fd, bool reset = false) {
    if (reset) {
      linger l{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(fd);
    std::erase(accepted_, fd);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> accepted_;
};

// Runs io until the peer has seen the end of the stream, appending what it read.
inline bool RunUntilPeerClosed(boost::asio::io_context& io, int fd, std::string& into) {
  return RunUntil(io, [&] { return !ReadAvailable(fd, into); });
}

}  // namespace testsupport
