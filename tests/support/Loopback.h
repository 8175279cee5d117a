#pragma once
// Loopback helpers for tests that use real sockets: free ports, client sockets and running an
// io_context until a condition holds (never sleeping for a fixed time).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A listening socket on 127.0.0.1 at a port the kernel chose (returned in port); blocking.
inline int ListenLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  listen(fd, 8);
  return fd;
}

// A port on 127.0.0.1 that was free a moment ago.
inline int FreeLoopbackPort() {
  int port = 0;
  close(ListenLoopback(port));
  return port;
}

// A client socket on 127.0.0.1:port, non-blocking after the connect; -1 when refused.
inline int ConnectLoopback(int port, int receiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

inline bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 5000) <= 0) return false;
    }
  }
  return true;
}

// Appends what can be read now; false once the peer closed.
inline bool ReadAvailable(int fd, std::string& into) {
  char block[65536];
  for (;;) {
    const ssize_t n = recv(fd, block, sizeof block, MSG_DONTWAIT);
    if (n > 0) {
      into.append(block, static_cast<size_t>(n));
      continue;
    }
    return n != 0;
  }
}

// Runs handlers until done() holds or the deadline passes; returns done().
inline bool RunUntil(boost::asio::io_context& io, const std::function<bool()>& done,
                     std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    io.restart();
    io.run_one_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testsupport
