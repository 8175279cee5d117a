#include "ui/MonitorSessions.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <type_traits>
#include <boost/beast/websocket/ssl.hpp>

#include "ui/HttpAccess.h"
#include "ui/MetricsText.h"
#include "ui/MonitorJson.h"
#include "ui/map/LibraryFiles.h"
#include "ui/map/MapMonitor.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Response = http::response<http::string_body>;

namespace {

constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr size_t kBodyLimit = 64 * 1024;
constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr std::string_view kEventsPath = "/api/events";
constexpr std::string_view kSettingsPrefix = "/api/settings/";
constexpr std::string_view kAccountsPrefix = "/api/accounts/";
constexpr size_t kMaxEventRead = 4096;  // the page sends nothing larger on its event socket

Response MakeResponse(const HttpRequest& request, http::status status, std::string body,
                      std::string_view contentType = "application/json") {
  Response response{status, request.version()};
  response.set(http::field::server, "KavroServer");
  response.set(http::field::content_type, contentType);
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Content-Security-Policy", "default-src 'self'; connect-src 'self'");
  response.keep_alive(request.keep_alive());
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

Response Status(const HttpRequest& request, http::status status, std::string_view reason) {
  return MakeResponse(request, status, "{\"error\":\"" + std::string(reason) + "\"}");
}

Response Done(const HttpRequest& request, bool done, std::string_view refusal) {
  return done ? MakeResponse(request, http::status::ok, "{\"ok\":true}")
              : Status(request, http::status::conflict, refusal);
}

// With a password, the credentials; without one, a loopback Host (the server binds loopback only then).
bool Authorized(const MonitorState& state, const HttpRequest& request) {
  if (state.options.password.empty()) return LoopbackHost(request[http::field::host]);
  return BasicAuthorized(request[http::field::authorization], state.options.password);
}

bool FromOwnOrigin(const HttpRequest& request) {
  return SameOrigin(request[http::field::origin], request[http::field::host]);
}

Response Unauthorized(const MonitorState& state, const HttpRequest& request) {
  if (state.options.password.empty()) return Status(request, http::status::forbidden, "host not loopback");
  Response response = Status(request, http::status::unauthorized, "credentials needed");
  response.set(http::field::www_authenticate, "Basic realm=\"KavroServer monitor\", charset=\"UTF-8\"");
  return response;
}

Response StaticFile(const MonitorState& state, const HttpRequest& request) {
  const std::string_view target = request.target();
  const std::string path = target.starts_with(kLeafletPrefix) ? LibraryFilePath(state.options.webRoot, target)
                                                              : StaticFilePath(state.options.webRoot, target);
  if (path.empty()) return Status(request, http::status::not_found, "not found");
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file || text.str().size() > kMaxFileBytes)
    return Status(request, http::status::not_found, "not found");
  Response response = MakeResponse(request, http::status::ok, text.str(), ContentTypeOf(path));
  response.set(http::field::cache_control, "no-cache");
  // Map pictures come as data: addresses, map tiles from the tile origin the operator set.
  const std::string& tiles = state.options.imageOrigin;
  response.set("Content-Security-Policy", "default-src 'self'; connect-src 'self'; img-src 'self' data:" +
                                              (tiles.empty() ? std::string() : " " + tiles));
  return response;
}

// An account-page request that may be answered: the others get their refusal from Answer.
bool IsAccountsRequest(const MonitorState& state, const HttpRequest& request) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  return state.handlers.accounts && path.starts_with(kAccountsPrefix) && path != "/api/accounts/admin" &&
         Authorized(state, request) && (request.method() != http::verb::post || FromOwnOrigin(request));
}

Response Post(MonitorState& state, const HttpRequest& request, std::string_view path) {
  if (!FromOwnOrigin(request)) return Status(request, http::status::forbidden, "foreign origin");
  const MonitorHandlers& handlers = state.handlers;
  if (path == "/api/service/start") return Done(request, handlers.startService(), "service running");
  if (path == "/api/service/stop") return Done(request, handlers.stopService(), "service stopped");
  if (path.starts_with(kSettingsPrefix) && handlers.settingsAction) {
    SettingsAnswer answer = handlers.settingsAction(path.substr(kSettingsPrefix.size()), request.body());
    return MakeResponse(request, static_cast<http::status>(answer.status), std::move(answer.body));
  }
  if (path == "/api/connection/close") {
    uint32_t socket = 0;
    if (!ParseSocketBody(request.body(), socket))
      return Status(request, http::status::bad_request, "body needs socket");
    if (!handlers.closeConnection(socket))
      return Status(request, http::status::not_found, "no such connection");
    return MakeResponse(request, http::status::ok, "{\"ok\":true}");
  }
  if (path == "/api/station/open") {
    uint32_t socket = 0;
    if (!ParseSocketBody(request.body(), socket))
      return Status(request, http::status::bad_request, "body needs socket");
    if (!handlers.openStation || !handlers.openStation(socket))
      return Status(request, http::status::not_found, "no such connection");
    return MakeResponse(request, http::status::ok, "{\"ok\":true}");
  }
  if (path == "/api/accounts/admin") {
    if (handlers.accountAdministration) handlers.accountAdministration();
    return MakeResponse(request, http::status::ok, "{\"ok\":true}");
  }
  if (path == "/api/console/open") {
    // By socket (a grid row) or by user name (a log row).
    uint32_t socket = 0;
    ConsoleRequest byName;
    bool opened = false;
    if (ParseSocketBody(request.body(), socket)) {
      opened = handlers.openConsole && handlers.openConsole(socket);
    } else if (ParseConsoleBody(request.body(), byName) && !byName.name.empty()) {
      opened = handlers.openConsoleByName && handlers.openConsoleByName(byName.name);
    } else {
      return Status(request, http::status::bad_request, "body needs socket or name");
    }
    if (!opened) return Status(request, http::status::not_found, "no such connection");
    return MakeResponse(request, http::status::ok, "{\"ok\":true}");
  }
  if (path == "/api/console/send" || path == "/api/console/mode" || path == "/api/console/clear") {
    ConsoleRequest console;
    if (path != "/api/console/clear" && !ParseConsoleBody(request.body(), console))
      return Status(request, http::status::bad_request, "body needs text or modes");
    if (path == "/api/console/send" && handlers.consoleSend) handlers.consoleSend(console.text);
    if (path == "/api/console/mode" && handlers.consoleModes) handlers.consoleModes(console.binary, console.decoder);
    if (path == "/api/console/clear" && handlers.consoleClear) handlers.consoleClear();
    return MakeResponse(request, http::status::ok, "{\"ok\":true}");
  }
  return Status(request, http::status::not_found, "not found");
}

Response Answer(MonitorState& state, const HttpRequest& request) {
  if (!Authorized(state, request)) return Unauthorized(state, request);
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  // The views with an API of their own under a path prefix: the map and the work-area dialogs.
  const std::pair<std::string_view, const ApiHandler*> views[] = {{MapMonitor::kApiPrefix, &state.handlers.map},
                                                                  {kWorkAreaApiPrefix, &state.handlers.areas}};
  for (const auto& [prefix, handler] : views) {
    if (!path.starts_with(prefix) || !*handler) continue;
    if (request.method() == http::verb::post && !FromOwnOrigin(request))
      return Status(request, http::status::forbidden, "foreign origin");
    SettingsAnswer answer = (*handler)(request.method_string(), target.substr(prefix.size()), request.body());
    return MakeResponse(request, static_cast<http::status>(answer.status), std::move(answer.body));
  }
  switch (request.method()) {
    case http::verb::post:
      return Post(state, request, path);
    case http::verb::get:
    case http::verb::head:
      if (path == "/api/state") return MakeResponse(request, http::status::ok, state.handlers.state());
      if (path == "/metrics" && state.handlers.metrics)
        return MakeResponse(request, http::status::ok, state.handlers.metrics(), kMetricsContentType);
      if (path == "/api/settings" && state.handlers.settingsState)
        return MakeResponse(request, http::status::ok, state.handlers.settingsState());
      if (path == kEventsPath) return Status(request, http::status::upgrade_required, "WebSocket only");
      return StaticFile(state, request);
    default:
      return Status(request, http::status::method_not_allowed, "method not allowed");
  }
}

}  // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream stream, std::shared_ptr<MonitorState> state)
    : stream_(std::move(stream)), state_(std::move(state)) {
  state_->sessions.insert(this);
}

template <class Stream>
HttpSession<Stream>::~HttpSession() {
  state_->sessions.erase(this);
}

template <class Stream>
void HttpSession<Stream>::Start() {
  if constexpr (std::is_same_v<Stream, TlsStream>) {
    beast::get_lowest_layer(stream_).expires_after(kRequestTimeout);
    stream_.async_handshake(asio::ssl::stream_base::server,
                            [self = this->shared_from_this()](const beast::error_code& error) {
                              if (!error && self->state_->running) self->ReadRequest();
                            });
  } else {
    ReadRequest();
  }
}

template <class Stream>
void HttpSession<Stream>::Close() {
  beast::error_code ignored;
  beast::get_lowest_layer(stream_).socket().close(ignored);
}

template <class Stream>
void HttpSession<Stream>::ReadRequest() {
  parser_.emplace();
  parser_->body_limit(kBodyLimit);
  beast::get_lowest_layer(stream_).expires_after(kRequestTimeout);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = this->shared_from_this()](const beast::error_code& error, size_t) { self->OnRequest(error); });
}

template <class Stream>
void HttpSession<Stream>::OnRequest(const beast::error_code& error) {
  if (error || !state_->running) return;  // the session ends with its last operation
  HttpRequest request = parser_->release();
  if (websocket::is_upgrade(request)) {
    if (!Authorized(*state_, request)) return Reply(Unauthorized(*state_, request), false);
    if (request.target() != kEventsPath)
      return Reply(Status(request, http::status::not_found, "not found"), false);
    if (!FromOwnOrigin(request))
      return Reply(Status(request, http::status::forbidden, "foreign origin"), false);
    beast::get_lowest_layer(stream_).expires_never();
    std::make_shared<EventSession<Stream>>(std::move(stream_), state_)->Start(std::move(request));
    return;
  }
  const bool keepAlive = request.keep_alive();
  if (IsAccountsRequest(*state_, request)) {
    // Answered when the database answered; the request is kept for the reply's headers.
    auto kept = std::make_shared<HttpRequest>(std::move(request));
    state_->handlers.accounts(kept->method_string(), kept->target(), kept->body(),
                              [self = this->shared_from_this(), kept](SettingsAnswer answer) {
                                Response response = MakeResponse(
                                    *kept, static_cast<http::status>(answer.status), std::move(answer.body));
                                if (kept->method() == http::verb::head) response.body().clear();
                                self->Reply(std::move(response), kept->keep_alive());
                              });
    return;
  }
  Response response = Answer(*state_, request);
  if (request.method() == http::verb::head) response.body().clear();  // Content-Length stays that of GET
  Reply(std::move(response), keepAlive);
}

template <class Stream>
void HttpSession<Stream>::Reply(Response response, bool keepAlive) {
  response.keep_alive(keepAlive);
  auto message = std::make_shared<Response>(std::move(response));
  http::async_write(stream_, *message,
                    [self = this->shared_from_this(), message, keepAlive](const beast::error_code& error, size_t) {
                      if (error) return;
                      if (keepAlive && self->state_->running) return self->ReadRequest();
                      if constexpr (std::is_same_v<Stream, TlsStream>) {
                        self->stream_.async_shutdown([self](const beast::error_code&) {});
                      } else {
                        beast::error_code ignored;
                        self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                      }
                    });
}

template <class Stream>
EventSession<Stream>::EventSession(Stream stream, std::shared_ptr<MonitorState> state)
    : socket_(std::move(stream)), state_(std::move(state)) {
  state_->sessions.insert(this);
}

template <class Stream>
EventSession<Stream>::~EventSession() {
  state_->sessions.erase(this);
  state_->events.erase(this);
}

template <class Stream>
void EventSession<Stream>::Close() {
  open_ = false;
  beast::error_code ignored;
  beast::get_lowest_layer(socket_).socket().close(ignored);
}

template <class Stream>
void EventSession<Stream>::Start(HttpRequest request) {
  socket_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  socket_.read_message_max(kMaxEventRead);
  socket_.async_accept(request, [self = this->shared_from_this()](const beast::error_code& error) {
    if (error || !self->state_->running) return;
    self->open_ = true;
    self->state_->events.insert(self.get());
    self->snapshotDue_ = true;  // the first message is the snapshot
    self->WriteNext();
    self->ReadNext();
  });
}

template <class Stream>
void EventSession<Stream>::Send(std::shared_ptr<const std::string> message) {
  if (!open_ || snapshotDue_) return;  // a due snapshot will hold this change too
  if (queue_.size() >= state_->options.queueLimit) {
    queue_.clear();
    snapshotDue_ = true;
  } else {
    queue_.push_back(std::move(message));
  }
  if (!writing_) WriteNext();
}

template <class Stream>
void EventSession<Stream>::WriteNext() {
  if (!open_) return;
  if (snapshotDue_) {
    snapshotDue_ = false;
    queue_.clear();
    queue_.push_back(std::make_shared<const std::string>(state_->handlers.snapshot()));
    // The snapshot lists no grid rows: those of the page's window follow it.
    if (state_->handlers.gridWindow)
      queue_.push_back(std::make_shared<const std::string>(state_->handlers.gridWindow(window_)));
  }
  if (queue_.empty()) return;
  writing_ = std::move(queue_.front());
  queue_.pop_front();
  socket_.text(true);
  socket_.async_write(asio::buffer(*writing_),
                      [self = this->shared_from_this()](const beast::error_code& error, size_t) {
                        self->writing_.reset();
                        if (error) return self->Close();
                        self->WriteNext();
                      });
}

template <class Stream>
void EventSession<Stream>::ReadNext() {
  // The page names the grid rows it shows; reading also keeps the close and control frames answered.
  socket_.async_read(readBuffer_, [self = this->shared_from_this()](const beast::error_code& error, size_t) {
    if (error) return self->Close();
    GridWindow window;
    if (ParseGridView(beast::buffers_to_string(self->readBuffer_.data()), window) &&
        self->state_->handlers.gridWindow) {
      self->window_ = window;
      self->Send(std::make_shared<const std::string>(self->state_->handlers.gridWindow(window)));
    }
    self->readBuffer_.clear();
    self->ReadNext();
  });
}

template class HttpSession<PlainStream>;
template class HttpSession<TlsStream>;
template class EventSession<PlainStream>;
template class EventSession<TlsStream>;
