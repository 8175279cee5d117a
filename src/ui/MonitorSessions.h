#pragma once
// The sessions of the monitor server: one per HTTP connection, one per event socket, and the state
// they share with the server. Internal to src/ui: it brings Beast in.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ui/MonitorServer.h"

class EventSession;

// A session that the server closes when it stops.
class MonitorSession {
 public:
  virtual ~MonitorSession() = default;
  virtual void Close() = 0;
};

// What the server and its sessions share; sessions keep it alive while their operations complete.
struct MonitorState {
  explicit MonitorState(boost::asio::io_context& context, MonitorHandlers h)
      : io(context), handlers(std::move(h)) {}

  boost::asio::io_context& io;
  MonitorHandlers handlers;
  MonitorOptions options;
  std::optional<boost::asio::ip::tcp::acceptor> acceptor;
  bool running = false;
  std::set<MonitorSession*> sessions;  // every live session
  std::set<EventSession*> events;      // the sessions that receive events
};

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

// One HTTP connection: reads requests, answers them, and hands an upgrade to an EventSession.
class HttpSession : public MonitorSession, public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(boost::asio::ip::tcp::socket socket, std::shared_ptr<MonitorState> state);
  ~HttpSession() override;
  void Start() { ReadRequest(); }
  void Close() override;

 private:
  void ReadRequest();
  void OnRequest(const boost::beast::error_code& error);
  void Reply(boost::beast::http::response<boost::beast::http::string_body> response, bool keepAlive);

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::shared_ptr<MonitorState> state_;
};

// One event socket: a snapshot first, then the events, through a bounded queue.
class EventSession : public MonitorSession, public std::enable_shared_from_this<EventSession> {
 public:
  EventSession(boost::asio::ip::tcp::socket socket, std::shared_ptr<MonitorState> state);
  ~EventSession() override;
  void Start(HttpRequest request);
  void Close() override;
  // Queues one message; over the bound the backlog is dropped for a snapshot taken when it is sent.
  void Send(std::shared_ptr<const std::string> message);
  // The grid rows the page shows, as it last said.
  GridWindow window() const { return window_; }

 private:
  void WriteNext();
  void ReadNext();

  boost::beast::websocket::stream<boost::beast::tcp_stream> socket_;
  boost::beast::flat_buffer readBuffer_;
  std::shared_ptr<MonitorState> state_;
  std::deque<std::shared_ptr<const std::string>> queue_;
  std::shared_ptr<const std::string> writing_;  // the message being written, kept until it is out
  bool open_ = false;
  bool snapshotDue_ = false;
  GridWindow window_;
};
