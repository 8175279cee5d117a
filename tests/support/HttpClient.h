#pragma once
// A blocking HTTP client for tests of the web monitor: one request per connection to 127.0.0.1,
// with a receive time-out so that a server fault fails the test instead of hanging it.
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <string>

namespace testsupport {

using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// A connected socket on 127.0.0.1:port whose reads give up after five seconds.
inline boost::asio::ip::tcp::socket ConnectHttp(boost::asio::io_context& io, int port) {
  boost::asio::ip::tcp::socket socket(io);
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
  const timeval timeout{5, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return socket;
}

struct HttpRequestParts {
  std::string origin;         // no Origin header when empty
  std::string authorization;  // no Authorization header when empty
  std::string body;
  std::string host;  // "127.0.0.1:<port>" when empty
};

inline HttpResponse HttpRequest(int port, boost::beast::http::verb verb, const std::string& target,
                                const HttpRequestParts& parts = {}) {
  namespace http = boost::beast::http;
  boost::asio::io_context io;
  auto socket = ConnectHttp(io, port);
  http::request<http::string_body> request{verb, target, 11};
  request.set(http::field::host, parts.host.empty() ? "127.0.0.1:" + std::to_string(port) : parts.host);
  if (!parts.origin.empty()) request.set(http::field::origin, parts.origin);
  if (!parts.authorization.empty()) request.set(http::field::authorization, parts.authorization);
  request.body() = parts.body;
  request.prepare_payload();
  http::write(socket, request);
  boost::beast::flat_buffer buffer;
  HttpResponse response;
  http::read(socket, buffer, response);
  return response;
}

}  // namespace testsupport
