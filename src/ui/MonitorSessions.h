#pragma once
// The sessions of the monitor server: one per HTTP connection, one per event socket, and the state
// they share with the server. Internal to src/ui: it brings Beast in. Each session works on a plain
// TCP stream or on a TLS stream over it.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ui/MonitorServer.h"

// A session that the server closes when it stops.
class MonitorSession {
 public:
  virtual ~MonitorSession() = default;
  virtual void Close() = 0;
};

// A session that receives the broadcast events.
class EventSink : public MonitorSession {
 public:
  // Queues one message; over the bound the backlog is dropped for a snapshot taken when it is sent.
  virtual void Send(std::shared_ptr<const std::string> message) = 0;
  // The grid rows the page shows, as it last said.
  GridWindow window() const { return window_; }

 protected:
  GridWindow window_;
};

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

// What the server and its sessions share; sessions keep it alive while their operations complete.
struct MonitorState {
  explicit MonitorState(boost::asio::io_context& context, MonitorHandlers h)
      : io(context), handlers(std::move(h)) {}

  boost::asio::io_context& io;
  MonitorHandlers handlers;
  MonitorOptions options;
  std::optional<boost::asio::ip::tcp::acceptor> acceptor;
  std::shared_ptr<boost::asio::ssl::context> tls;  // set: every connection speaks TLS
  bool running = false;
  std::set<MonitorSession*> sessions;  // every live session
  std::set<EventSink*> events;         // the sessions that receive events
};

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

// One HTTP connection: reads requests, answers them, and hands an upgrade to an EventSession.
template <class Stream>
class HttpSession : public MonitorSession, public std::enable_shared_from_this<HttpSession<Stream>> {
 public:
  HttpSession(Stream stream, std::shared_ptr<MonitorState> state);
  ~HttpSession() override;
  // Reads the first request, after the handshake on a TLS stream.
  void Start();
  void Close() override;

 private:
  void ReadRequest();
  void OnRequest(const boost::beast::error_code& error);
  void Reply(boost::beast::http::response<boost::beast::http::string_body> response, bool keepAlive);

  Stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::shared_ptr<MonitorState> state_;
};

// One event socket: a snapshot first, then the events, through a bounded queue.
template <class Stream>
class EventSession : public EventSink, public std::enable_shared_from_this<EventSession<Stream>> {
 public:
  EventSession(Stream stream, std::shared_ptr<MonitorState> state);
  ~EventSession() override;
  void Start(HttpRequest request);
  void Close() override;
  void Send(std::shared_ptr<const std::string> message) override;

 private:
  void WriteNext();
  void ReadNext();

  boost::beast::websocket::stream<Stream> socket_;
  boost::beast::flat_buffer readBuffer_;
  std::shared_ptr<MonitorState> state_;
  std::deque<std::shared_ptr<const std::string>> queue_;
  std::shared_ptr<const std::string> writing_;  // the message being written, kept until it is out
  bool open_ = false;
  bool snapshotDue_ = false;
};

extern template class HttpSession<PlainStream>;
extern template class HttpSession<TlsStream>;
extern template class EventSession<PlainStream>;
extern template class EventSession<TlsStream>;
