#include "ui/MonitorServer.h"

#include <boost/asio/ssl/context.hpp>
#include <map>

#include "app/TlsContext.h"

#include "core/StrFormat.h"
#include "ui/HttpAccess.h"
#include "ui/MonitorSessions.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

void Accept(const std::shared_ptr<MonitorState>& state) {
  state->acceptor->async_accept([state](const boost::system::error_code& error, tcp::socket socket) {
    if (!state->running || !state->acceptor->is_open()) return;
    if (!error && state->tls) {
      std::make_shared<HttpSession<TlsStream>>(TlsStream(PlainStream(std::move(socket)), *state->tls), state)->Start();
    } else if (!error) {
      std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), state)->Start();
    }
    Accept(state);
  });
}

}  // namespace

MonitorServer::MonitorServer(asio::io_context& io, MonitorHandlers handlers)
    : state_(std::make_shared<MonitorState>(io, std::move(handlers))) {}

MonitorServer::~MonitorServer() { Stop(); }

bool MonitorServer::Start(const MonitorOptions& options, std::string& error) {
  Stop();
  boost::system::error_code code;
  const asio::ip::address address = asio::ip::make_address(options.bind, code);
  if (code) {
    error = StrFormat("Monitor BIND[%s] is not an address", options.bind.c_str());
    return false;
  }
  if (options.password.empty() && !IsLoopbackBind(options.bind)) {
    error = StrFormat("Monitor BIND[%s] refused: without a PASSWORD the monitor listens on loopback only",
                      options.bind.c_str());
    return false;
  }
  if (options.port < 0 || options.port > 65535) {
    error = StrFormat("Monitor PORT[%d] is not a port", options.port);
    return false;
  }
  state_->tls.reset();
  if (options.tls) {
    // No plain fall-back: the operator asked for TLS, maybe because the password crosses a network.
    state_->tls = LoadTlsContext(options.tlsCert, options.tlsKey, error);
    if (!state_->tls) {
      error = "Monitor: " + error;
      return false;
    }
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(options.port));
  auto& acceptor = state_->acceptor.emplace(state_->io);
  acceptor.open(endpoint.protocol(), code);
  if (!code) acceptor.set_option(asio::socket_base::reuse_address(true), code);
  if (!code) acceptor.bind(endpoint, code);
  if (!code) acceptor.listen(asio::socket_base::max_listen_connections, code);
  if (code) {
    error =
        StrFormat("Monitor %s:%d Bind Error %s", options.bind.c_str(), options.port, code.message().c_str());
    state_->acceptor.reset();
    return false;
  }
  state_->options = options;
  state_->running = true;
  Accept(state_);
  return true;
}

void MonitorServer::Stop() {
  state_->running = false;
  if (state_->acceptor) {
    boost::system::error_code ignored;
    state_->acceptor->close(ignored);
  }
  // Closing ends each session's operations; the sessions leave the set as they go.
  for (MonitorSession* session : std::set<MonitorSession*>(state_->sessions)) session->Close();
}

int MonitorServer::port() const {
  if (!state_->running || !state_->acceptor) return 0;
  boost::system::error_code error;
  const auto endpoint = state_->acceptor->local_endpoint(error);
  return error ? 0 : endpoint.port();
}

void MonitorServer::Broadcast(const std::string& message) {
  if (state_->events.empty()) return;
  const auto shared = std::make_shared<const std::string>(message);
  for (EventSink* session : std::set<EventSink*>(state_->events)) session->Send(shared);
}

void MonitorServer::BroadcastGrid() {
  if (state_->events.empty() || !state_->handlers.gridWindow) return;
  std::map<GridWindow, std::shared_ptr<const std::string>> messages;
  for (EventSink* session : std::set<EventSink*>(state_->events)) {
    auto& message = messages[session->window()];
    if (!message) message = std::make_shared<const std::string>(state_->handlers.gridWindow(session->window()));
    session->Send(message);
  }
}

size_t MonitorServer::EventClients() const { return state_->events.size(); }
