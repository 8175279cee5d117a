#pragma once
// The socket-layer side of one accepted connection: the socket and its write queue. Completion handlers hold it by shared pointer, so a read or write in flight never
// outlives the memory it uses, even after the connection's entry is gone.
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>

#include "core/AddressLimits.h"
#include "core/ClientEntry.h"
#include "core/WriteQueue.h"

class SocketConnection {
 public:
  SocketConnection(boost::asio::ip::tcp::socket socket, uint32_t fd, size_t queueBound)
      : socket(std::move(socket)), fd(fd), queue(queueBound) {}

  boost::asio::ip::tcp::socket socket;
  const uint32_t fd;
  WriteQueue queue;
  bool closed = false;
  bool writeWaiting = false;
  bool addressCounted = false;  // counted by the per-address limits, released on close
  AddressKey address;           // what the per-address limits counted the peer as
};
