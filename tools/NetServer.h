#pragma once
// The network server stand-in on an io_context: accepts the caster's link and rover connections on
// one loopback port, answers links with the mountpoint, range and status lines and streams to rovers,
// logging one line per event. It stops by itself after options.duration.
//
// Log lines: "LISTENING <port>" first, then "#<connection> <EVENT> <text>" and "STOP <reason>" last:
//   #3 OPEN 127.0.0.1:50412
//   #3 LINK VORAN,KAVOROSERVER,20261209,0          the greeting line as received
//   #4 GETMODE VORAN,GETMODE,UPSTREAM1,u,0,0,...   the request line as received
//   #4 GGA $GPGGA,...                             with logGga
//   #4 WARN <what is wrong>                        a malformed greeting or request, unknown mountpoint
//   #3 RECV VORAN,...                              another "VORAN," line
//   #9 REFUSED too many connections (<n> open)
//   #4 CLOSE <reason>; received <n> bytes; sent <n> bytes[; records <n>][; GGA <n>]
// Received text has control characters written as "?".
#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>

#include "tools/NetServerOptions.h"

namespace netserver {

using LogSink = std::function<void(const std::string&)>;

class NetServer {
 public:
  // Listens at once and logs "LISTENING <port>"; throws boost::system::system_error when the port
  // cannot be opened. stream: the bytes rovers get with Payload::File.
  NetServer(boost::asio::io_context& io, const Options& options, std::string stream, LogSink log);
  ~NetServer();
  NetServer(const NetServer&) = delete;
  NetServer& operator=(const NetServer&) = delete;

  unsigned short port() const;
  // Closes the listener and every connection and logs "STOP <reason>"; later calls do nothing. Run the
  // io_context until its handlers are done before destroying the server.
  void Stop(const std::string& reason);
  bool stopped() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace netserver
