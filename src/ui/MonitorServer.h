#pragma once
// The web monitor's HTTP and WebSocket server on the caster's io_context: the page files, the state
// snapshot, the operator's actions and the event socket. Beast stays inside the .cpp.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace boost::asio {
class io_context;
}
struct MonitorState;

// The answer of a settings request: an HTTP status and its JSON body.
struct SettingsAnswer {
  int status = 200;
  std::string body;
};

// A view's own API: method, the target after the view's path prefix, and the body.
using ApiHandler = std::function<SettingsAnswer(std::string_view method, std::string_view target, std::string_view body)>;
constexpr std::string_view kWorkAreaApiPrefix = "/api/areas/";

// The rows of the connection grid a page shows: count rows from row first, in socket order. A page
// receives only these rows; it asks for others as it scrolls.
struct GridWindow {
  static constexpr size_t kDefaultCount = 100;  // until the page names its own
  static constexpr size_t kMaxCount = 1000;
  size_t first = 0;
  size_t count = kDefaultCount;
  bool operator<(const GridWindow& other) const {
    return first != other.first ? first < other.first : count < other.count;
  }
};

// What the server asks of the caster; every call comes on the main thread.
struct MonitorHandlers {
  std::function<std::string()> state;     // JSON of GET /api/state
  std::function<std::string()> snapshot;  // the first message of an event socket
  std::function<std::string()> metrics;   // GET /metrics, Prometheus text format
  // The grid message of one window: its rows and the number of all rows. Follows the snapshot, and
  // answers a page that asks for another window.
  std::function<std::string(GridWindow window)> gridWindow;
  std::function<bool()> startService;     // false when the service runs already (or did not start)
  std::function<bool()> stopService;      // false when it is stopped already
  std::function<bool(uint32_t socket)> closeConnection;  // false when there is no such connection
  // The debug console: open on a connection (false when there is none), send the typed text to it,
  // set its two modes, empty it.
  std::function<bool(uint32_t socket)> openConsole;
  std::function<bool(const std::string& userName)> openConsoleByName;
  std::function<void(const std::string& text)> consoleSend;
  std::function<void(bool binary, bool decoder)> consoleModes;
  std::function<void()> consoleClear;
  // The station dialog on the connection of a grid row, also located on the map; false when the
  // row's user name belongs to no connection.
  std::function<bool(uint32_t socket)> openStation;
  // The user-administration command (32787).
  std::function<void()> accountAdministration;
  // The settings form: its state (GET /api/settings), and the actions "save", "start" and "stop"
  // with the request body (POST /api/settings/<action>).
  std::function<std::string()> settingsState;
  std::function<SettingsAnswer(std::string_view action, std::string_view body)> settingsAction;
  // The map view: a GET or POST under /api/map/ with the target after that prefix and the body.
  ApiHandler map;
  // The work-area dialogs, under /api/areas/ in the same way.
  ApiHandler areas;
  // The account page (/api/accounts/..., but for /api/accounts/admin): method, target with query, body.
  // The answer goes to reply, on the main thread, at once or when the database answered.
  std::function<void(std::string_view method, std::string_view target, std::string_view body,
                     std::function<void(SettingsAnswer)> reply)>
      accounts;
};

struct MonitorOptions {
  std::string bind = "127.0.0.1";
  int port = 6080;       // 0 takes any free port
  std::string password;  // empty: no credentials asked, and only loopback addresses may be bound
  std::string webRoot;   // the page folder
  std::string imageOrigin;  // an origin the page may show images from (map tiles); empty: none
  // TLS (https, wss) with this PEM certificate chain and key when tls is set.
  bool tls = false;
  std::string tlsCert;
  std::string tlsKey;
  // Events waiting per event socket; a socket over it gets one fresh snapshot instead of the backlog.
  size_t queueLimit = 256;
};

class MonitorServer {
 public:
  MonitorServer(boost::asio::io_context& io, MonitorHandlers handlers);
  ~MonitorServer();
  MonitorServer(const MonitorServer&) = delete;
  MonitorServer& operator=(const MonitorServer&) = delete;

  // Starts listening; false, with the reason in error, when the options are refused or the address
  // cannot be bound.
  bool Start(const MonitorOptions& options, std::string& error);
  // Stops listening and closes every session.
  void Stop();
  // The port listened on (0 when not listening).
  int port() const;
  // Queues one event for every event socket.
  void Broadcast(const std::string& message);
  // Queues for every event socket the grid message of the window its page shows; sockets showing
  // the same window share one message.
  void BroadcastGrid();
  // Event sockets open now; events are not worth composing while there are none.
  size_t EventClients() const;

 private:
  std::shared_ptr<MonitorState> state_;
};
